#include "base/paths.h"

#include "base/text.h"
#include "sys/files.h"

namespace nx {

namespace {

template <typename Char>
bool isSeparator(Char c) {
  return c == Char('/') || c == Char('\\');
}

template <typename String>
String namePart(const String& path) {
  using Char = typename String::value_type;
  const Char separators[] = {Char('/'), Char('\\'), Char(0)};
  size_t pos = path.find_last_of(separators);
  return pos == String::npos ? path : path.substr(pos + 1);
}

}  // namespace

std::wstring joinPath(const std::wstring& a, const std::wstring& b) {
  std::wstring out = a;
  if (!a.empty() && !isSeparator(a.back()) && !(!b.empty() && isSeparator(b.front()))) out += sys::pathSeparator;
  out += b;
  return out;
}

std::wstring joinPath(const std::wstring& a, const std::string& b) { return joinPath(a, fromUtf8(b)); }

std::wstring parentFolder(const std::wstring& p) {
  if (p.size() < 2) return {};
  // Start before the last character so that a trailing separator is skipped.
  for (size_t i = p.size() - 1; i-- > 0;) {
    if (isSeparator(p[i])) return p.substr(0, i + 1);
  }
  return {};
}

std::wstring fileNamePart(const std::wstring& path) { return namePart(path); }
std::string fileNamePart(const std::string& path) { return namePart(path); }

std::wstring currentFolder() {
  std::wstring folder;
  if (!sys::currentFolder(&folder)) return {};
  return folder;
}

std::wstring executablePath() {
  std::wstring path;
  if (!sys::executablePath(&path)) return L"UNKNOWNDIR\\UNKNOWNEXE";
  return path;
}

std::wstring executableFolder() { return parentFolder(executablePath()); }

}  // namespace nx
