#include "probes/storage_watcher.h"

#include <chrono>
#include <thread>

#include "platform/utf8.h"
#include "storage/location.h"

namespace tolvanik {
void on_storage_dir_event(const platform::DirectoryChange& change,
                          const std::string& storage_file_name, const EventSender& sender) {
  if (change.kind != platform::ChangeKind::kCreate &&
      change.kind != platform::ChangeKind::kModify) {
    return;
  }
  for (const std::string& path : change.paths) {
    const std::string name = final_component(path);
    if (name.empty()) continue;
    if (utf8_text_lossy(name) == storage_file_name) {
      // The receiver is only gone while the process is ending.
      sender.send(StorageChanged{});
      return;
    }
  }
}

void storage_watcher_main(EventSender sender, std::string storage_file_name,
                          std::string storage_directory) {
  std::string why =
      platform::watch_directory(storage_directory, [&](const platform::DirectoryChange& change) {
        on_storage_dir_event(change, storage_file_name, sender);
      });
  sender.send(WatchEnded{std::move(why)});
  while (true) std::this_thread::sleep_for(std::chrono::seconds(60));
}

}  // namespace tolvanik
