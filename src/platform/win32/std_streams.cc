#include "platform/std_streams.h"

#include <windows.h>

#include <algorithm>

namespace tolvanik::platform {
namespace {

// One call moves at most this many bytes; DWORD counts cannot say more.
constexpr std::size_t kMaxTransfer = 1u << 30;

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

void exit_process(int status) {
  // Ending the process outright stops threads blocked in reads without any
  // library teardown running under their feet.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  // Not reached: terminating the own process does not return.
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace tolvanik::platform
