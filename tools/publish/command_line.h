#pragma once
// The publish program's commands: argument words in, exit code out.
//   publish release DESCRIPTION PRODUCT_FOLDER REPOSITORY [options]
//   publish image REPOSITORY VERSION TARGET_FOLDER [options]
// Results go to out; a failure is one line "publish: <reason>" on err.
// Exit codes: 0 success, 1 failure, 2 bad command line.
#include <ostream>
#include <string>
#include <vector>

namespace nx::publish {

int runPublish(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

}  // namespace nx::publish
