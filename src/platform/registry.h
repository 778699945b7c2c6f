// The system registry, where Windows browsers look up native-messaging hosts.
// Key paths are below the hive, with "\" between components; text is UTF-8.
#pragma once

#include <expected>
#include <optional>
#include <string>

namespace tolvanik::platform {

enum class RegistryHive { kCurrentUser, kLocalMachine };

// False on systems whose browsers find hosts through folders instead.
bool has_registry();

// The default value of `key` when it is a string; nothing when the key or
// its default value does not exist.
std::expected<std::optional<std::string>, std::string> read_registry_default(
    RegistryHive hive, const std::string& key);

// Creates `key` as needed and sets its default value to the string `value`.
std::expected<void, std::string> write_registry_default(RegistryHive hive, const std::string& key,
                                                        const std::string& value);

// Removes `key` with everything below it; a missing key is no error.
std::expected<void, std::string> delete_registry_key(RegistryHive hive, const std::string& key);

}  // namespace tolvanik::platform
