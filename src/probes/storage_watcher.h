// Tells the event loop when the storage file changes on disk.
#pragma once

#include <string>
#include <string_view>

#include "messaging/event_channel.h"
#include "platform/directory_watcher.h"

namespace tolvanik {

// Sends one StorageChanged for a create or modify record (either side of a
// rename) whose first matching path ends in exactly `storage_file_name`.
// Removals and other records are ignored, and so is a failed send.
void on_storage_dir_event(const platform::DirectoryChange& change,
                          const std::string& storage_file_name, const EventSender& sender);

// The body of the storage watcher thread: watches `storage_directory`
// without its subdirectories and never returns. Once the watch cannot go on
// (the directory is missing, or the system gave up) the thread sends why
// and then stays asleep, holding its sender, so that the channel never
// reports disconnection on the watcher's account.
[[noreturn]] void storage_watcher_main(EventSender sender, std::string storage_file_name,
                                       std::string storage_directory);

}  // namespace tolvanik
