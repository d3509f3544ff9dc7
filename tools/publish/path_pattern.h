#pragma once
// Relative product paths and the glob patterns that pick them. Paths use '/'
// and never leave the product folder. In a pattern, "*" matches within one
// path piece, "?" one character of a piece, and a piece "**" any number of
// whole pieces (none included, except at the end, where it needs one); every
// other character matches itself.
#include <string>
#include <string_view>

namespace nx::publish {

// Empty when path is a clean relative path ("a/b.txt"); otherwise the reason
// it is refused (absolute, "..", ".", an empty piece, a backslash, a control
// character).
std::string pathProblem(std::string_view path);

bool isPattern(std::string_view text);
bool matchPattern(std::string_view pattern, std::string_view path);

}  // namespace nx::publish
