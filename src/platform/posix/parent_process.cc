#include "platform/parent_process.h"

#include <unistd.h>

namespace tolvanik::platform {

ParentProcess::ParentProcess() : id_(static_cast<std::uintptr_t>(getppid())) {}

ParentProcess::~ParentProcess() = default;

// An orphan is handed to another process (init or a subreaper), so a
// changed parent id means the one that started this process has ended.
bool ParentProcess::ended() { return static_cast<std::uintptr_t>(getppid()) != id_; }

}  // namespace tolvanik::platform
