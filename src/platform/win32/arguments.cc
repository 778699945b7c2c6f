#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include "platform/environment.h"
#include "platform/win32/text.h"

namespace tolvanik::platform {

std::vector<std::string> program_arguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(to_utf8_lossy(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace tolvanik::platform
