#pragma once
// The source tag sent with every update check: the letters, digits, '_' and
// '-' among the first 64 bytes of Config/autoupdate.tag (when it is a regular
// file) or else of Config/retail.cfg. Empty when neither can be read.
#include <string>

namespace nx {

std::string readSourceTag(const std::wstring& baseFolder);

}  // namespace nx
