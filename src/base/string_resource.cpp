#include "base/string_resource.h"

#include "res/string_table.h"

namespace nx {

namespace {
// Texts are loaded into a buffer of 100 characters, terminator included.
constexpr size_t kMaxLength = 99;
}  // namespace

std::wstring loadStringResource(uint32_t id) {
  const wchar_t* text = res::stringTableText(id);
  if (!text) return {};
  std::wstring out = text;
  if (out.size() > kMaxLength) out.resize(kMaxLength);
  return out;
}

}  // namespace nx
