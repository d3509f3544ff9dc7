#pragma once
// Byte sinks and sources. A processing pipeline is a chain of Writers fed
// from one source in chunks of kChunkSize bytes. No Writer owns its
// downstream: the code that builds a chain owns every element. Every Writer
// accepts an empty write, also write(nullptr, 0).
#include <cstddef>
#include <string>

namespace nx {

// Sources are drained in chunks of this size; a shorter read ends the loop.
inline constexpr size_t kChunkSize = 65536;

class Writer {
 public:
  virtual ~Writer() = default;
  // Consumes all size bytes or throws.
  virtual void write(const void* data, size_t size) = 0;
};

class Reader {
 public:
  virtual ~Reader() = default;
  // Places up to size bytes in buffer; 0 means the end of the data.
  virtual size_t read(void* buffer, size_t size) = 0;
};

class NullWriter : public Writer {
 public:
  void write(const void*, size_t) override {}
};
extern NullWriter nullWriter;

// Passes the same bytes to first, then to second.
class SplitWriter : public Writer {
 public:
  SplitWriter(Writer& first, Writer& second) : first(&first), second(&second) {}
  void write(const void* data, size_t size) override {
    first->write(data, size);
    second->write(data, size);
  }
  Writer* first;
  Writer* second;
};

// Appends the bytes to a string it does not own.
class StringWriter : public Writer {
 public:
  explicit StringWriter(std::string& target) : target(&target) {}
  void write(const void* data, size_t size) override {
    if (size) target->append(static_cast<const char*>(data), size);
  }
  std::string* target;
};

// Hands out the bytes of a block it does not own.
class MemoryReader : public Reader {
 public:
  MemoryReader(const void* data, size_t size) : data_(static_cast<const char*>(data)), rest_(size) {}
  size_t read(void* buffer, size_t size) override;

 private:
  const char* data_;
  size_t rest_;
};

}  // namespace nx
