#include "io/writer.h"

#include <algorithm>
#include <cstring>

namespace nx {

NullWriter nullWriter;

size_t MemoryReader::read(void* buffer, size_t size) {
  size_t n = std::min(size, rest_);
  if (n == 0) return 0;
  std::memcpy(buffer, data_, n);
  data_ += n;
  rest_ -= n;
  return n;
}

}  // namespace nx
