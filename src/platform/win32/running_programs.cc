#include "platform/running_programs.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <string>

#include "platform/win32/owned_handle.h"
#include "platform/win32/text.h"

namespace tolvanik::platform {
namespace {

// The user a process runs as, copied out of its token; empty when that
// cannot be read.
std::string user_of(HANDLE process) {
  OwnedHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.out())) return {};
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return {};
  }
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  return std::string(static_cast<const char*>(sid), GetLengthSid(sid));
}

ULONGLONG as_number(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// How long the process has run, in seconds; nothing when it cannot be told.
std::chrono::seconds age_of(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{}, now{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return {};
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG ticks =
      as_number(now) > as_number(created) ? as_number(now) - as_number(created) : 0;
  // File times count 100 ns.
  return std::chrono::seconds(ticks / 10'000'000);
}

}  // namespace

std::expected<RunningPrograms, std::string> running_programs(std::string_view file_name) {
  OwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return std::unexpected(last_error_text());
  const std::string own_user = user_of(GetCurrentProcess());
  const std::wstring wanted = to_wide(file_name);
  RunningPrograms found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId() ||
        CompareStringOrdinal(entry.szExeFile, -1, wanted.c_str(), -1, TRUE) != CSTR_EQUAL) {
      continue;
    }
    OwnedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    // Another user's process cannot be opened, or runs as someone else.
    if (!process.valid() || user_of(process.get()) != own_user) continue;
    ++found.count;
    found.oldest = std::max(found.oldest, age_of(process.get()));
  }
  return found;
}

}  // namespace tolvanik::platform
