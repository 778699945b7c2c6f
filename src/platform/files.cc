// The part of the file layer that is the same on every system.
#include "platform/files.h"

#include <algorithm>

namespace tolvanik::platform {

std::chrono::microseconds lock_retry_pause(std::chrono::microseconds patience) {
  return std::clamp<std::chrono::microseconds>(patience / 20, std::chrono::microseconds(200),
                                               std::chrono::milliseconds(20));
}

std::expected<void, std::string> DurableFile::rename_over(const std::string& target) const {
  return replace_file(path_, target);
}

std::expected<void, std::string> write_durable_file(const std::string& path,
                                                    std::string_view bytes) {
  auto file = DurableFile::create(path);
  if (!file) return std::unexpected(std::move(file.error()));
  if (auto appended = file->append(bytes); !appended) return appended;
  return file->flush_and_close();
}

}  // namespace tolvanik::platform
