#pragma once
// SHA-256 of the bytes passing through; they are forwarded unchanged to the
// downstream writer. Digests equal standard SHA-256 (FIPS 180-4) for inputs
// of any length. Uses the CPU's SHA extensions when it has them.
#include <cstdint>
#include <string>

#include "io/writer.h"

namespace nx {

class Sha256Writer : public Writer {
 public:
  explicit Sha256Writer(Writer& next = nullWriter);
  void write(const void* data, size_t size) override;
  // Completes the hash, stores the 64 lowercase hex characters in digest and
  // returns it. The writer is used up afterwards.
  std::string& finish(std::string& digest);

  Writer* next;

 private:
  uint64_t byteCount_ = 0;    // bytes already folded into the state
  uint32_t waiting_ = 0;      // bytes waiting in block_
  unsigned char block_[128];  // two blocks, so the padding always fits
  uint32_t state_[8];
};

// Lowercase hexadecimal text of the bytes: two characters a byte.
std::string hexLower(const void* bytes, size_t count);

}  // namespace nx
