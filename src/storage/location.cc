#include "storage/location.h"

#include "platform/environment.h"

namespace tolvanik {
namespace {

std::size_t last_separator(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (platform::is_path_separator(path[i - 1])) return i - 1;
  }
  return std::string::npos;
}

}  // namespace

std::string storage_path_from_appdata(const std::optional<std::string>& appdata) {
  std::string path;
  if (appdata && !appdata->empty()) {
    path = *appdata;
    path += platform::kPathSeparator;
  }
  path += "io.tolvanik.desktop";
  path += platform::kPathSeparator;
  path += "storage.json";
  return path;
}

std::string storage_path_from_environment() {
  return storage_path_from_appdata(platform::environment_variable("APPDATA"));
}

std::string sibling_path(const std::string& storage_path, std::string_view extension) {
  const std::size_t name_start = last_separator(storage_path) + 1;  // npos + 1 == 0
  const std::size_t dot = storage_path.rfind('.');
  std::string sibling =
      dot != std::string::npos && dot >= name_start ? storage_path.substr(0, dot) : storage_path;
  sibling += '.';
  sibling += extension;
  return sibling;
}

std::string parent_directory(const std::string& path) {
  const std::size_t separator = last_separator(path);
  if (separator == std::string::npos) return path;
  if (separator == 0) return path.substr(0, 1);
  return path.substr(0, separator);
}

std::string final_component(const std::string& path) {
  const std::size_t separator = last_separator(path);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

}  // namespace tolvanik
