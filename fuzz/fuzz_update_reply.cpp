// The update reply reader on arbitrary bytes, as a hostile server could send
// them. Its documented failures are std::runtime_error ("JSON error: ..." or
// the structural error text); anything else is a finding.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "db/install_state.h"
#include "net/update_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    nx::UpdateReply reply = nx::parseUpdateReply(text, nx::kInvalidStructure);
    if (reply.downloadUrls.empty()) __builtin_trap();  // a reply always names a mirror
  } catch (const std::runtime_error&) {
  }
  return 0;
}
