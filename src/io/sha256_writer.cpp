#include "io/sha256_writer.h"

#include <atomic>
#include <cstring>

#include "io/sha256_compress.h"

#if defined(__x86_64__) || defined(__i386__)
// The compiler's own CPUID helper (not an operating-system header): clang
// does not know __builtin_cpu_supports("sha"), and both compilers ship this.
#include <cpuid.h>
#endif

namespace nx {

namespace sha256 {

alignas(16) const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

namespace {

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t loadBigEndian(const unsigned char* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

std::atomic<CompressFunction> active{nullptr};

CompressFunction cpuChoice() { return cpuHasShaExtensions() ? compressShaNi : compressPortable; }

}  // namespace

void compressPortable(uint32_t state[8], const unsigned char* blocks, size_t count) {
  for (; count > 0; --count, blocks += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = loadBigEndian(blocks + 4 * i);
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
      uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

bool cpuHasShaExtensions() {
#if defined(__x86_64__) || defined(__i386__)
  // Leaf 1: SSSE3 (ECX bit 9) and SSE4.1 (ECX bit 19); leaf 7: SHA (EBX bit 29).
  static const bool has = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool sse = (c & (1u << 9)) && (c & (1u << 19));
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return sse && (b & (1u << 29)) != 0;
  }();
  return has;
#else
  return false;
#endif
}

CompressFunction activeCompress() {
  CompressFunction f = active.load(std::memory_order_relaxed);
  if (!f) {
    f = cpuChoice();
    active.store(f, std::memory_order_relaxed);
  }
  return f;
}

void forcePortable(bool portable) {
  active.store(portable ? compressPortable : cpuChoice(), std::memory_order_relaxed);
}

}  // namespace sha256

namespace {
constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
}

Sha256Writer::Sha256Writer(Writer& next) : next(&next) { std::memcpy(state_, kInitial, sizeof state_); }

void Sha256Writer::write(const void* data, size_t size) {
  if (size == 0) return;  // data may be null: memcpy must not see it
  const auto* bytes = static_cast<const unsigned char*>(data);
  size_t rest = size;
  if (waiting_ + rest < 64) {
    std::memcpy(block_ + waiting_, bytes, rest);
    waiting_ += static_cast<uint32_t>(rest);
  } else {
    auto compress = sha256::activeCompress();
    size_t fill = 0;
    if (waiting_ > 0) {
      fill = 64 - waiting_;
      std::memcpy(block_ + waiting_, bytes, fill);
      compress(state_, block_, 1);
      byteCount_ += 64;
      waiting_ = 0;
    }
    // Whole blocks straight from the caller's buffer.
    size_t blocks = (rest - fill) / 64;
    if (blocks) compress(state_, bytes + fill, blocks);
    byteCount_ += uint64_t(blocks) * 64;
    size_t used = fill + blocks * 64;
    waiting_ = static_cast<uint32_t>(rest - used);
    std::memcpy(block_, bytes + used, waiting_);
  }
  next->write(data, size);
}

std::string& Sha256Writer::finish(std::string& digest) {
  // The length field holds all 64 bits of the bit count, so inputs of any
  // size give the standard digest.
  uint64_t bits = (byteCount_ + waiting_) * 8;
  uint32_t blocks = waiting_ <= 55 ? 1 : 2;
  block_[waiting_] = 0x80;
  std::memset(block_ + waiting_ + 1, 0, blocks * 64 - waiting_ - 1);
  for (int i = 0; i < 8; ++i) block_[blocks * 64 - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  sha256::activeCompress()(state_, block_, blocks);
  unsigned char out[32];
  for (int i = 0; i < 8; ++i) {
    out[4 * i] = static_cast<unsigned char>(state_[i] >> 24);
    out[4 * i + 1] = static_cast<unsigned char>(state_[i] >> 16);
    out[4 * i + 2] = static_cast<unsigned char>(state_[i] >> 8);
    out[4 * i + 3] = static_cast<unsigned char>(state_[i]);
  }
  digest = hexLower(out, sizeof out);
  return digest;
}

std::string hexLower(const void* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::string text(count * 2, '\0');
  for (size_t i = 0; i < count; ++i) {
    text[2 * i] = kDigits[p[i] >> 4];
    text[2 * i + 1] = kDigits[p[i] & 15];
  }
  return text;
}

}  // namespace nx
