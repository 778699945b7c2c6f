#include "probes/storage_watcher.h"

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/utf8.h"

namespace tolvanik {
namespace {

using platform::ChangeKind;
using platform::DirectoryChange;
using platform::RenameSide;

const std::string kDirectory = std::string("watched") + platform::kPathSeparator;

DirectoryChange change(ChangeKind kind, std::vector<std::string> names,
                       RenameSide rename = RenameSide::kNone) {
  DirectoryChange result{kind, rename, {}};
  for (const std::string& name : names) result.paths.push_back(kDirectory + name);
  return result;
}

// How many StorageChanged the filter sends for `changes`.
std::size_t signals_for(const std::vector<DirectoryChange>& changes) {
  auto [sender, receiver] = make_event_channel();
  for (const DirectoryChange& c : changes) on_storage_dir_event(c, "storage.json", sender);
  { const EventSender dropped = std::move(sender); }
  HostEvents events;
  receiver.receive_all(events);
  for (const HostEvent& event : events) EXPECT_TRUE(std::holds_alternative<StorageChanged>(event));
  return events.size();
}

TEST(StorageDirEvent, EveryCreateModifyOrRenameOfTheStorageFileSignals) {
  EXPECT_EQ(signals_for({
                change(ChangeKind::kCreate, {"storage.json"}),
                change(ChangeKind::kModify, {"storage.json"}),
                change(ChangeKind::kModify, {"storage.json"}),
                change(ChangeKind::kModify, {"storage.json"}, RenameSide::kNewName),
                change(ChangeKind::kModify, {"storage.json"}, RenameSide::kOldName),
            }),
            5u);
}

TEST(StorageDirEvent, RemovalsOtherKindsAndOtherNamesAreIgnored) {
  EXPECT_EQ(signals_for({
                change(ChangeKind::kRemove, {"storage.json"}),
                change(ChangeKind::kOther, {"storage.json"}),
                change(ChangeKind::kModify, {"Storage.json"}),
                change(ChangeKind::kModify, {"STORAGE.JSON"}),
                change(ChangeKind::kModify, {"storage.json.bak"}),
                change(ChangeKind::kCreate, {"storage.json.tmp"}),
                change(ChangeKind::kModify, {"storage.json.lock"}),
                change(ChangeKind::kModify, {"storage.json.new"}, RenameSide::kOldName),
                change(ChangeKind::kModify, {"storage.json "}),
                change(ChangeKind::kModify, {""}),
                change(ChangeKind::kModify, {}),
            }),
            0u);
}

TEST(StorageDirEvent, OneSignalPerRecordWhateverItsPaths) {
  EXPECT_EQ(
      signals_for({change(ChangeKind::kModify, {"other", "", "storage.json", "storage.json"})}),
      1u);
}

TEST(StorageDirEvent, SendingAfterTheReceiverIsGoneIsHarmless) {
  auto [sender, receiver] = make_event_channel();
  { const EventReceiver gone = std::move(receiver); }
  on_storage_dir_event(change(ChangeKind::kModify, {"storage.json"}), "storage.json", sender);
}

TEST(StorageDirEvent, NamesAreComparedAsText) {
  auto [sender, receiver] = make_event_channel();
  const std::string file_name = utf8_text_lossy("st\xFFrage.json");
  on_storage_dir_event(change(ChangeKind::kModify, {"st\xFFrage.json"}), file_name, sender);
  on_storage_dir_event(change(ChangeKind::kModify, {"st\xFErage.json"}), file_name, sender);
  { const EventSender dropped = std::move(sender); }
  HostEvents events;
  receiver.receive_all(events);
  EXPECT_EQ(events.size(), 2u) << "both names read as st\\uFFFDrage.json";
}

}  // namespace
}  // namespace tolvanik
