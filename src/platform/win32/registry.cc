#include "platform/registry.h"

#include <windows.h>

#include "platform/win32/text.h"

namespace tolvanik::platform {
namespace {

HKEY root_of(RegistryHive hive) {
  return hive == RegistryHive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

class OwnedKey {
 public:
  OwnedKey() = default;
  OwnedKey(const OwnedKey&) = delete;
  OwnedKey& operator=(const OwnedKey&) = delete;
  ~OwnedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

bool has_registry() { return true; }

std::expected<std::optional<std::string>, std::string> read_registry_default(
    RegistryHive hive, const std::string& key) {
  const std::wstring path = to_wide(key);
  DWORD bytes = 0;
  LSTATUS status =
      RegGetValueW(root_of(hive), path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) return std::unexpected(error_text(static_cast<DWORD>(status)));
  std::wstring value(bytes / sizeof(wchar_t), L'\0');
  status = RegGetValueW(root_of(hive), path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value.data(),
                        &bytes);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) return std::unexpected(error_text(static_cast<DWORD>(status)));
  // The size counts the terminating null.
  value.resize(bytes / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return to_utf8_lossy(value);
}

std::expected<void, std::string> write_registry_default(RegistryHive hive, const std::string& key,
                                                        const std::string& value) {
  OwnedKey opened;
  LSTATUS status =
      RegCreateKeyExW(root_of(hive), to_wide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, opened.out(), nullptr);
  if (status != ERROR_SUCCESS) return std::unexpected(error_text(static_cast<DWORD>(status)));
  const std::wstring wide = to_wide(value);
  status =
      RegSetValueExW(opened.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                     static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) return std::unexpected(error_text(static_cast<DWORD>(status)));
  return {};
}

std::expected<void, std::string> delete_registry_key(RegistryHive hive, const std::string& key) {
  // Given a subkey, RegDeleteTreeW removes the subkey itself as well.
  const LSTATUS status = RegDeleteTreeW(root_of(hive), to_wide(key).c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return {};
  return std::unexpected(error_text(static_cast<DWORD>(status)));
}

}  // namespace tolvanik::platform
