#include "publish/gzip_writer.h"

#include <gtest/gtest.h>

#include "io/gunzip_writer.h"
#include "io/writer.h"

namespace nx::publish {
namespace {

std::string compress(const std::string& input, size_t piece) {
  std::string out;
  StringWriter sink(out);
  GzipWriter gzip(sink);
  for (size_t at = 0; at < input.size(); at += piece) gzip.write(input.data() + at, std::min(piece, input.size() - at));
  gzip.finish();
  return out;
}

TEST(GzipWriterTest, RoundTripsAndIsDeterministic) {
  std::string input;
  uint32_t x = 7;
  while (input.size() < 300000) {  // several chunks, partly incompressible
    x = x * 1664525u + 1013904223u;
    input += (x & 0x100) ? std::to_string(x) : std::string("veltra ");
  }
  for (const std::string& data : {std::string(), input}) {
    std::string packed = compress(data, 65536);
    ASSERT_GE(packed.size(), 18u);
    EXPECT_EQ(packed.substr(0, 8), std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8));  // no name, mtime 0
    std::string back;
    StringWriter sink(back);
    GunzipWriter gunzip(sink);
    gunzip.write(packed.data(), packed.size());
    EXPECT_EQ(back, data);
    // The pieces the input arrives in do not change the bytes.
    EXPECT_EQ(compress(data, 1000), packed);
  }
}

}  // namespace
}  // namespace nx::publish
