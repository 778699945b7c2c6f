// A system handle that is closed however the code that opened it ends.
#pragma once

#include <windows.h>

namespace tolvanik::platform {

class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { reset(); }

  HANDLE get() const { return handle_; }
  // For functions that hand back a new handle through a pointer.
  HANDLE* out() { return &handle_; }
  // Some functions fail with a null handle, others with INVALID_HANDLE_VALUE.
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void reset() {
    if (valid()) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace tolvanik::platform
