#include "platform/std_streams.h"

#include <windows.h>

#include <algorithm>

namespace tolvanik::platform {
namespace {

// One call moves at most this many bytes; DWORD counts cannot say more.
constexpr std::size_t kMaxTransfer = 1u << 30;

// FilePipeLocalInformation's layout; its NamedPipeState tells whether the
// other end is still there.
struct PipeLocalInformation {
  ULONG type, configuration, maximum_instances, current_instances, inbound_quota,
      read_data_available, outbound_quota, write_quota_available, state, end;
};
constexpr int kFilePipeLocalInformation = 24;
constexpr ULONG kPipeDisconnectedState = 1;
constexpr ULONG kPipeClosingState = 4;

struct IoStatus {
  void* status_or_pointer;
  ULONG_PTR information;
};
using QueryInformationFile = LONG(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, int);

// The state of the pipe behind `handle`, or 0 when it is no pipe or the
// system does not say. The call lives in ntdll, which every process has
// loaded; looking it up keeps the host's imports to the documented DLLs.
ULONG pipe_state(HANDLE handle) {
  static_assert(sizeof(PipeLocalInformation) == 40);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto query = ntdll ? reinterpret_cast<QueryInformationFile>(reinterpret_cast<void*>(
                                 GetProcAddress(ntdll, "NtQueryInformationFile")))
                           : nullptr;
  if (query == nullptr) return 0;
  IoStatus io{};
  PipeLocalInformation information{};
  if (query(handle, &io, &information, sizeof information, kFilePipeLocalInformation) < 0) {
    return 0;
  }
  return information.state;
}

}  // namespace

void prepare_process() {
  // A write to a pipe the browser has closed already fails with an error on
  // this system. What remains is to keep the system from stopping a host
  // that nobody watches with an error dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

std::size_t read_stdin_some(std::span<char> buffer) {
  DWORD got = 0;
  const DWORD wanted = static_cast<DWORD>(std::min(buffer.size(), kMaxTransfer));
  // A pipe whose writer has gone reports ERROR_BROKEN_PIPE: the input has ended.
  if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer.data(), wanted, &got, nullptr)) return 0;
  return got;
}

bool write_stdout_all(std::string_view bytes) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD wanted = static_cast<DWORD>(std::min(bytes.size(), kMaxTransfer));
    // A write that moves nothing would only be repeated forever.
    if (!WriteFile(output, bytes.data(), wanted, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool stdin_ended() {
  DWORD available = 0;
  // Bytes still in the pipe are reported before the writer's end is.
  return !PeekNamedPipe(GetStdHandle(STD_INPUT_HANDLE), nullptr, 0, nullptr, &available, nullptr) &&
         GetLastError() == ERROR_BROKEN_PIPE;
}

// Asking the pipe's state neither writes to it nor waits; a zero-byte
// write, the other way to ask, may reach the reader as an end of input.
std::optional<bool> stdout_reader_closed() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const ULONG state = pipe_state(output);
  if (state == 0) {
    if (GetFileType(output) == FILE_TYPE_PIPE) return std::nullopt;
    return false;
  }
  return state == kPipeDisconnectedState || state == kPipeClosingState;
}

void exit_process(int status) {
  // Ending the process outright stops threads blocked in reads without any
  // library teardown running under their feet.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  // Not reached: terminating the own process does not return.
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace tolvanik::platform
