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
  // The opened process where the system needs one to be watched, else 0.
  std::uintptr_t handle_ = 0;
  bool looked_up_ = false;
  bool gone_ = false;
};

}  // namespace tolvanik::platform
