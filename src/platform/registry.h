// The system registry, where Windows browsers look up native-messaging hosts
// and their policies. Key paths are below the hive, with "\" between
// components; text is UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolvanik::platform {

enum class RegistryHive { kCurrentUser, kLocalMachine };

// Which of the two registry views of a 64-bit system a key is read in:
// the one this program sees by itself, or the 32-bit or 64-bit programs'
// view (KEY_WOW64_32KEY, KEY_WOW64_64KEY).
enum class RegistryView { kOwn, k32Bit, k64Bit };

// A key's path as people write it, from its hive: "HKCU\\<key>",
// "HKLM\\<key>".
inline std::string registry_key_text(RegistryHive hive, std::string_view key) {
  return (hive == RegistryHive::kLocalMachine ? "HKLM\\" : "HKCU\\") + std::string(key);
}

// False on systems whose browsers find hosts through folders instead.
bool has_registry();

// The default value of `key` in `view` when it is a string; nothing when
// the key or its default value does not exist.
std::expected<std::optional<std::string>, std::string> read_registry_default(RegistryHive hive,
                                                                             const std::string& key,
                                                                             RegistryView view);

// The DWORD value `name` of `key`; nothing when the key or the value does
// not exist.
std::expected<std::optional<std::uint32_t>, std::string> read_registry_dword(
    RegistryHive hive, const std::string& key, const std::string& name);

// One value of a key: its name and its data, a string (REG_SZ,
// REG_EXPAND_SZ, unexpanded) or a DWORD; values of other types are left out.
struct RegistryValue {
  std::string name;
  std::variant<std::string, std::uint32_t> data;
};

// Every value of `key` that is a string or a DWORD, in the order the
// registry lists them. Nothing when the key does not exist.
std::expected<std::optional<std::vector<RegistryValue>>, std::string> read_registry_values(
    RegistryHive hive, const std::string& key);

// How many subkeys `key` has; nothing when the key does not exist.
std::expected<std::optional<std::size_t>, std::string> count_registry_subkeys(
    RegistryHive hive, const std::string& key);

// Creates `key` as needed and sets its default value to the string `value`.
std::expected<void, std::string> write_registry_default(RegistryHive hive, const std::string& key,
                                                        const std::string& value);

// Removes `key` with everything below it; a missing key is no error.
std::expected<void, std::string> delete_registry_key(RegistryHive hive, const std::string& key);

// Creates `key` as needed and sets its value `value_name` to the DWORD `value`.
std::expected<void, std::string> write_registry_dword(RegistryHive hive, const std::string& key,
                                                      const std::string& value_name,
                                                      std::uint32_t value);

// Removes the value `value_name` of `key`; a missing key or value is no error.
std::expected<void, std::string> delete_registry_value(RegistryHive hive, const std::string& key,
                                                       const std::string& value_name);

}  // namespace tolvanik::platform
