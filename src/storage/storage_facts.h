// What a storage operation met on its way, besides its result: facts for
// the host's log, none of which changes what the operation did.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tolvanik {

struct StorageFacts {
  // How long taking the storage lock took.
  std::chrono::nanoseconds lock_wait{};
  // The storage file held no document and the backup's was used.
  bool backup_loaded = false;
  // An update was refused: the storage file exists, the host cannot read
  // it, and there is no readable backup.
  bool update_refused = false;
  // Every failure met, the one that ended the operation as well as those
  // it went on after, each with its prefix ("Write error: ...").
  std::vector<std::string> failures;
};

}  // namespace tolvanik
