// The publisher's release description, as a user (or a typing error) gives it.
#include <cstdint>
#include <string>

#include "publish/publish_error.h"
#include "publish/release_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    nx::publish::parseReleaseDescription(std::string(reinterpret_cast<const char*>(data), size), "fuzz.json");
  } catch (const nx::publish::PublishError&) {
  }
  return 0;
}
