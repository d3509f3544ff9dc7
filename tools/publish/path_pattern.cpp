#include "publish/path_pattern.h"

#include <vector>

namespace nx::publish {

namespace {

std::vector<std::string_view> splitPieces(std::string_view path) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) {
      pieces.push_back(path.substr(start));
      return pieces;
    }
    pieces.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
}

// One piece against one pattern piece with "*" and "?".
bool matchPiece(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  size_t starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starT = t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool matchPieces(const std::vector<std::string_view>& pattern, size_t pi, const std::vector<std::string_view>& path,
                 size_t ti) {
  while (pi < pattern.size()) {
    if (pattern[pi] == "**") {
      // Collapse repeated "**" pieces, then try every split point.
      while (pi + 1 < pattern.size() && pattern[pi + 1] == "**") ++pi;
      if (pi + 1 == pattern.size()) return ti < path.size();
      for (size_t skip = ti; skip < path.size(); ++skip)
        if (matchPieces(pattern, pi + 1, path, skip)) return true;
      return false;
    }
    if (ti >= path.size() || !matchPiece(pattern[pi], path[ti])) return false;
    ++pi;
    ++ti;
  }
  return ti == path.size();
}

}  // namespace

std::string pathProblem(std::string_view path) {
  if (path.empty()) return "it is empty";
  if (path.front() == '/') return "it is absolute";
  for (char c : path) {
    if (c == '\\') return "it contains a backslash";
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "it contains a control character";
  }
  if (path.size() >= 2 && path[1] == ':') return "it is absolute";
  for (std::string_view piece : splitPieces(path)) {
    if (piece.empty()) return "it has an empty piece";
    if (piece == "..") return "it leaves the product folder";
    if (piece == ".") return "it has a \".\" piece";
  }
  return {};
}

bool isPattern(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

bool matchPattern(std::string_view pattern, std::string_view path) {
  return matchPieces(splitPieces(pattern), 0, splitPieces(path), 0);
}

}  // namespace nx::publish
