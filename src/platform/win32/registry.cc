#include "platform/registry.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/text.h"

namespace tolvanik::platform {
namespace {

HKEY root_of(RegistryHive hive) {
  return hive == RegistryHive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

REGSAM view_flag(RegistryView view) {
  switch (view) {
    case RegistryView::k32Bit:
      return KEY_WOW64_32KEY;
    case RegistryView::k64Bit:
      return KEY_WOW64_64KEY;
    case RegistryView::kOwn:
      break;
  }
  return 0;
}

std::unexpected<std::string> failure(LSTATUS status) {
  return std::unexpected(error_text(static_cast<DWORD>(status)));
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

// Opens `key` for reading its values; ERROR_FILE_NOT_FOUND when missing.
LSTATUS open_for_query(RegistryHive hive, const std::string& key, REGSAM view, OwnedKey& opened) {
  return RegOpenKeyExW(root_of(hive), to_wide(key).c_str(), 0, KEY_QUERY_VALUE | view,
                       opened.out());
}

// The text of a REG_SZ value of `size_bytes`, without its terminating nulls.
std::string string_of(std::wstring value, DWORD size_bytes) {
  value.resize(size_bytes / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return to_utf8_lossy(value);
}

// Creates `key` as needed and sets its value `name` (the default value for
// null) to `size` bytes of `data` of `type`.
std::expected<void, std::string> set_value(RegistryHive hive, const std::string& key,
                                           const wchar_t* name, DWORD type, const BYTE* data,
                                           DWORD size) {
  OwnedKey opened;
  LSTATUS status =
      RegCreateKeyExW(root_of(hive), to_wide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, opened.out(), nullptr);
  if (status != ERROR_SUCCESS) return failure(status);
  status = RegSetValueExW(opened.get(), name, 0, type, data, size);
  if (status != ERROR_SUCCESS) return failure(status);
  return {};
}

}  // namespace

bool has_registry() { return true; }

std::expected<std::optional<std::string>, std::string> read_registry_default(RegistryHive hive,
                                                                             const std::string& key,
                                                                             RegistryView view) {
  OwnedKey opened;
  LSTATUS status = open_for_query(hive, key, view_flag(view), opened);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) return failure(status);
  DWORD bytes = 0;
  status = RegGetValueW(opened.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) return failure(status);
  std::wstring value(bytes / sizeof(wchar_t), L'\0');
  status =
      RegGetValueW(opened.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &bytes);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) return failure(status);
  return string_of(std::move(value), bytes);
}

std::expected<std::optional<std::uint32_t>, std::string> read_registry_dword(
    RegistryHive hive, const std::string& key, const std::string& name) {
  DWORD value = 0;
  DWORD bytes = sizeof value;
  const LSTATUS status = RegGetValueW(root_of(hive), to_wide(key).c_str(), to_wide(name).c_str(),
                                      RRF_RT_REG_DWORD, nullptr, &value, &bytes);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_UNSUPPORTED_TYPE) return std::nullopt;
  if (status != ERROR_SUCCESS) return failure(status);
  return value;
}

std::expected<std::optional<std::vector<RegistryValue>>, std::string> read_registry_values(
    RegistryHive hive, const std::string& key) {
  OwnedKey opened;
  LSTATUS status = open_for_query(hive, key, 0, opened);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) return failure(status);
  DWORD longest_name = 0;
  DWORD largest_data = 0;
  status = RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, &longest_name, &largest_data, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return failure(status);
  std::vector<RegistryValue> values;
  std::wstring name(longest_name + 1, L'\0');
  std::wstring data(largest_data / sizeof(wchar_t) + 1, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD data_bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    status = RegEnumValueW(opened.get(), index, name.data(), &name_length, nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &data_bytes);
    if (status == ERROR_NO_MORE_ITEMS) return values;
    if (status != ERROR_SUCCESS) return failure(status);
    std::string value_name = to_utf8_lossy(std::wstring_view(name.data(), name_length));
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      values.push_back({std::move(value_name), string_of(data, data_bytes)});
    } else if (type == REG_DWORD && data_bytes == sizeof(DWORD)) {
      DWORD number = 0;
      std::memcpy(&number, data.data(), sizeof number);
      values.push_back({std::move(value_name), std::uint32_t{number}});
    }
  }
}

std::expected<std::optional<std::size_t>, std::string> count_registry_subkeys(
    RegistryHive hive, const std::string& key) {
  OwnedKey opened;
  LSTATUS status = open_for_query(hive, key, 0, opened);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) return failure(status);
  DWORD subkeys = 0;
  status = RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return failure(status);
  return std::size_t{subkeys};
}

std::expected<void, std::string> write_registry_default(RegistryHive hive, const std::string& key,
                                                        const std::string& value) {
  const std::wstring wide = to_wide(value);
  return set_value(hive, key, nullptr, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                   static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

std::expected<void, std::string> delete_registry_key(RegistryHive hive, const std::string& key) {
  // Given a subkey, RegDeleteTreeW removes the subkey itself as well.
  const LSTATUS status = RegDeleteTreeW(root_of(hive), to_wide(key).c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return {};
  return failure(status);
}

std::expected<void, std::string> write_registry_dword(RegistryHive hive, const std::string& key,
                                                      const std::string& value_name,
                                                      std::uint32_t value) {
  const DWORD data = value;
  return set_value(hive, key, to_wide(value_name).c_str(), REG_DWORD,
                   reinterpret_cast<const BYTE*>(&data), sizeof data);
}

std::expected<void, std::string> delete_registry_value(RegistryHive hive, const std::string& key,
                                                       const std::string& value_name) {
  const LSTATUS status =
      RegDeleteKeyValueW(root_of(hive), to_wide(key).c_str(), to_wide(value_name).c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return {};
  return failure(status);
}

}  // namespace tolvanik::platform
