#pragma once
// Zip archives and gzip streams built byte by byte, for what the libraries
// will not write: members that claim sizes they do not have, and members or
// streams of more than 4 GiB made in an instant (a deflate unit, repeated).
#include <zlib.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace nx::test {

struct HandmadeMember {
  std::string name, deflated;  // raw deflate data
  uint32_t crc = 0;
  uint64_t size = 0;                   // real uncompressed size
  uint64_t declaredSize = UINT64_MAX;  // what the headers claim; UINT64_MAX: the real size
  bool zip64 = false;                  // sizes in a zip64 extra field, as writers store 4 GiB and more
};

// Little-endian fields, each {value, bytes}.
inline void put(std::string& out, std::initializer_list<std::pair<uint64_t, int>> fields) {
  for (auto [value, bytes] : fields)
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

inline std::string deflateStep(z_stream& s, const std::string& in, int flush) {
  std::string out(deflateBound(&s, in.size()) + 64, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  s.avail_in = static_cast<uInt>(in.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, flush);
  out.resize(out.size() - s.avail_out);
  return out;
}

inline uLong crcOf(const std::string& data) {
  return crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
}

inline HandmadeMember deflatedMember(const std::string& name, const std::string& data) {
  z_stream s{};
  deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  HandmadeMember m{name, deflateStep(s, data, Z_FINISH), static_cast<uint32_t>(crcOf(data)), data.size()};
  deflateEnd(&s);
  return m;
}

// A member of `mebibytes` MiB of zero bytes. A full flush resets the
// compressor, so every MiB compresses to the same bytes: one unit, repeated.
inline HandmadeMember zeroMember(const std::string& name, uint64_t mebibytes) {
  const std::string zeros(1 << 20, '\0');
  z_stream s{};
  deflateInit2(&s, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  const std::string unit = deflateStep(s, zeros, Z_FULL_FLUSH), end = deflateStep(s, "", Z_FINISH);
  deflateEnd(&s);
  HandmadeMember m{name, "", 0, mebibytes << 20};
  m.deflated.reserve(unit.size() * mebibytes + end.size());
  uLong crc = 0;
  for (uint64_t i = 0; i < mebibytes; ++i) {
    m.deflated += unit;
    crc = crc32_combine(crc, crcOf(zeros), static_cast<z_off_t>(zeros.size()));
  }
  m.deflated += end;
  m.crc = static_cast<uint32_t>(crc);
  m.zip64 = m.size >= 0xFFFFFFFFu;
  return m;
}

// An archive of the members, with a zip64 end record (the library looks for
// it first); a zip64 member keeps its sizes in the extra field only.
inline std::string handmadeZip(const std::vector<HandmadeMember>& members) {
  std::string out, directory;
  for (const HandmadeMember& m : members) {
    const uint64_t size = m.declaredSize == UINT64_MAX ? m.size : m.declaredSize, packed = m.deflated.size();
    for (bool central : {true, false}) {
      std::string& to = central ? directory : out;
      put(to, {{central ? 0x02014b50u : 0x04034b50u, 4}});
      if (central) put(to, {{45, 2}});  // made by
      // needed: zip64, no flags, deflate, no time and date
      put(to, {{45, 2}, {0, 2}, {8, 2}, {0, 4}, {m.crc, 4}});
      put(to, {{m.zip64 ? 0xFFFFFFFF : packed, 4}, {m.zip64 ? 0xFFFFFFFF : size, 4}});
      put(to, {{m.name.size(), 2}, {m.zip64 ? 20u : 0u, 2}});
      // no comment, disk 0, no attributes, where the local header starts
      if (central) put(to, {{0, 2}, {0, 2}, {0, 2}, {0, 4}, {out.size(), 4}});
      to += m.name;
      if (m.zip64) put(to, {{0x0001, 2}, {16, 2}, {size, 8}, {packed, 8}});
    }
    out += m.deflated;
  }
  const uint64_t offset = out.size(), count = members.size(), length = directory.size();
  out += directory;
  const uint64_t zip64End = out.size();
  put(out, {{0x06064b50, 4}, {44, 8}, {45, 2}, {45, 2}, {0, 4}, {0, 4}});
  put(out, {{count, 8}, {count, 8}, {length, 8}, {offset, 8}});
  put(out, {{0x07064b50, 4}, {0, 4}, {zip64End, 8}, {1, 4}});  // its locator
  put(out, {{0x06054b50, 4}, {0, 4}, {count, 2}, {count, 2}, {length, 4}, {offset, 4}, {0, 2}});
  return out;
}

// The member's data as a gzip stream (a bomb, for a zeroMember).
inline std::string gzipOf(const HandmadeMember& m) {
  std::string out = std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + m.deflated;
  put(out, {{m.crc, 4}, {m.size & 0xFFFFFFFF, 4}});
  return out;
}
// The bytes as one gzip member, as objects are published.
inline std::string gzipped(const std::string& data) { return gzipOf(deflatedMember("", data)); }

}  // namespace nx::test
