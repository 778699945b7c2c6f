#include "platform/parent_process.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include "platform/win32/owned_handle.h"

namespace tolvanik::platform {
namespace {

// The id of the process that started `child`, from a snapshot of all
// processes; 0 when it is not listed.
DWORD parent_id_of(DWORD child) {
  OwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == child) return entry.th32ParentProcessID;
  }
  return 0;
}

ULONGLONG creation_time_of(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

// Nothing is looked up here: a host that never waits pays nothing for it.
ParentProcess::ParentProcess() = default;

ParentProcess::~ParentProcess() {
  if (handle_ != 0) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool ParentProcess::ended() {
  if (!looked_up_) {
    looked_up_ = true;
    id_ = parent_id_of(GetCurrentProcessId());
    const HANDLE parent = id_ == 0 ? nullptr
                                   : OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                                                 FALSE, static_cast<DWORD>(id_));
    handle_ = reinterpret_cast<std::uintptr_t>(parent);
    // No process by that id, or a younger one that took over the id of the
    // parent: either way the parent has ended.
    gone_ = (id_ != 0 && parent == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) ||
            (parent != nullptr && creation_time_of(parent) > creation_time_of(GetCurrentProcess()));
  }
  if (gone_) return true;
  return handle_ != 0 && WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), 0) == WAIT_OBJECT_0;
}

}  // namespace tolvanik::platform
