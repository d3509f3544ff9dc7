#pragma once
// A publishing step that cannot go on; the message is one complete line for
// the user.
#include <stdexcept>
#include <string>

namespace nx::publish {

class PublishError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace nx::publish
