#include "platform/registry.h"

namespace tolvanik::platform {
namespace {

std::unexpected<std::string> no_registry() {
  return std::unexpected<std::string>("this system has no registry");
}

}  // namespace

bool has_registry() { return false; }

std::expected<std::optional<std::string>, std::string> read_registry_default(RegistryHive,
                                                                             const std::string&,
                                                                             RegistryView) {
  return no_registry();
}

std::expected<std::optional<std::uint32_t>, std::string> read_registry_dword(RegistryHive,
                                                                             const std::string&,
                                                                             const std::string&) {
  return no_registry();
}

std::expected<std::optional<std::vector<RegistryValue>>, std::string> read_registry_values(
    RegistryHive, const std::string&) {
  return no_registry();
}

std::expected<std::optional<std::size_t>, std::string> count_registry_subkeys(RegistryHive,
                                                                              const std::string&) {
  return no_registry();
}

std::expected<void, std::string> write_registry_default(RegistryHive, const std::string&,
                                                        const std::string&) {
  return no_registry();
}

std::expected<void, std::string> delete_registry_key(RegistryHive, const std::string&) {
  return no_registry();
}

std::expected<void, std::string> write_registry_dword(RegistryHive, const std::string&,
                                                      const std::string&, std::uint32_t) {
  return no_registry();
}

std::expected<void, std::string> delete_registry_value(RegistryHive, const std::string&,
                                                       const std::string&) {
  return no_registry();
}

}  // namespace tolvanik::platform
