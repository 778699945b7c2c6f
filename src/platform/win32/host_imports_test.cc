// The browser starts a host for every message in one-shot mode, and every
// start loads each DLL the host imports, with that DLL's own imports in
// turn. The host keeps to the system's core: no shell, no window system.

#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <filesystem>
#include <set>
#include <string>

namespace tolvanik::platform {
namespace {

// The DLLs `program` imports, in lower case, read from its import table
// without loading any of them.
std::set<std::string> imported_dlls(const std::filesystem::path& program) {
  const HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  std::set<std::string> names;
  if (module == nullptr) return names;
  // The loader marks an image mapped as a resource in the handle's low bits.
  const auto* base =
      reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(module) & ~ULONG_PTR{3});
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* entry =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    std::string name = reinterpret_cast<const char*>(base + entry->Name);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    names.insert(name);
  }
  FreeLibrary(module);
  return names;
}

TEST(HostStart, ImportsOnlyTheSystemCore) {
  wchar_t self[MAX_PATH];
  ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const auto host = std::filesystem::path(self).parent_path() / L"tolvanik_host.exe";
  const std::set<std::string> imports = imported_dlls(host);
  ASSERT_TRUE(imports.contains("kernel32.dll")) << "no import table read from " << host;
  const std::set<std::string> core = {"kernel32.dll", "msvcrt.dll", "bcrypt.dll", "advapi32.dll"};
  for (const auto& name : imports) EXPECT_TRUE(core.contains(name)) << name;
}

}  // namespace
}  // namespace tolvanik::platform
