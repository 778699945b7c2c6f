#include "platform/directory_watcher.h"

#include <errno.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "platform/posix/fd_io.h"

namespace tolvanik::platform {
namespace {

constexpr uint32_t kWatchedEvents = IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                                    IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE;

DirectoryChange change_for(const inotify_event& event, const std::string& directory) {
  DirectoryChange change;
  if (event.mask & (IN_CREATE)) {
    change.kind = ChangeKind::kCreate;
  } else if (event.mask & (IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE)) {
    change.kind = ChangeKind::kModify;
  } else if (event.mask & IN_MOVED_FROM) {
    change.kind = ChangeKind::kModify;
    change.rename = RenameSide::kOldName;
  } else if (event.mask & IN_MOVED_TO) {
    change.kind = ChangeKind::kModify;
    change.rename = RenameSide::kNewName;
  } else if (event.mask & IN_DELETE) {
    change.kind = ChangeKind::kRemove;
  }
  if (event.len > 0) change.paths.push_back(directory + "/" + event.name);
  return change;
}

// Closes the inotify descriptor however the watch ends.
struct InotifyFd {
  int fd;
  ~InotifyFd() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::string watch_directory(const std::string& directory, const DirectoryChangeCallback& on_change) {
  InotifyFd inotify{inotify_init1(IN_CLOEXEC)};
  if (inotify.fd < 0) return last_error_text();
  if (inotify_add_watch(inotify.fd, directory.c_str(), kWatchedEvents | IN_ONLYDIR) < 0) {
    return last_error_text();
  }
  alignas(inotify_event) char buffer[16384];
  while (true) {
    const ssize_t got = read(inotify.fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return last_error_text();
    }
    for (ssize_t offset = 0; offset < got;) {
      // The kernel pads every record to the alignment of inotify_event.
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      if (event->mask & IN_IGNORED) return "the watched directory went away";
      if (!(event->mask & IN_Q_OVERFLOW)) on_change(change_for(*event, directory));
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

}  // namespace tolvanik::platform
