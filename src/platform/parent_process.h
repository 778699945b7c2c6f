// The process that started this one, for telling whether it has ended.
#pragma once

#include <cstdint>

namespace tolvanik::platform {

class ParentProcess {
 public:
  // Takes note of the parent as it is now. Cheap: whatever else the check
  // needs is looked up on the first call of ended().
  ParentProcess();
  ParentProcess(const ParentProcess&) = delete;
  ParentProcess& operator=(const ParentProcess&) = delete;
  ~ParentProcess();

  // True once the parent has ended; false also when that cannot be told.
  bool ended();

 private:
  std::uintptr_t id_ = 0;
  // Where the system needs the parent opened to watch it (Windows): the
  // opened process, else 0, and what the first look found.
  [[maybe_unused]] std::uintptr_t handle_ = 0;
  [[maybe_unused]] bool looked_up_ = false;
  [[maybe_unused]] bool gone_ = false;
};

}  // namespace tolvanik::platform
