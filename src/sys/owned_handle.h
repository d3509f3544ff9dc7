#pragma once
// A handle with one owner: it is closed when its owner goes, on every path,
// normal or by an exception. Move it to hand it on; release() gives it up.
#include <utility>

#include "sys/files.h"

namespace nx::sys {

class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(Handle handle) : handle_(handle) {}
  ~OwnedHandle() { reset(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != invalidHandle; }
  // Gives the handle up without closing it.
  Handle release() { return std::exchange(handle_, invalidHandle); }
  // Closes the handle held (if any) and takes `handle`.
  void reset(Handle handle = invalidHandle) {
    if (handle_ != invalidHandle) close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = invalidHandle;
};

}  // namespace nx::sys
