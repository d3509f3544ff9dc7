#pragma once
// The SHA-256 compression function in its two forms, for the writer and for
// tests that must reach both: the portable one and the one that uses the
// CPU's SHA extensions. Not part of the interface other code uses.
#include <cstddef>
#include <cstdint>

namespace nx::sha256 {

// The 64 round constants, shared by both forms (16-byte aligned for SIMD loads).
alignas(16) extern const uint32_t kRound[64];

// Folds count 64-byte blocks into the eight chaining words.
using CompressFunction = void (*)(uint32_t state[8], const unsigned char* blocks, size_t count);

void compressPortable(uint32_t state[8], const unsigned char* blocks, size_t count);
// Only valid where cpuHasShaExtensions() is true.
void compressShaNi(uint32_t state[8], const unsigned char* blocks, size_t count);
bool cpuHasShaExtensions();

// The function every Sha256Writer uses: chosen once from the CPU.
CompressFunction activeCompress();
// Forces the portable path (true) or returns to the CPU's choice (false);
// for tests and benchmarks that compare the two.
void forcePortable(bool portable);

}  // namespace nx::sha256
