// Linux: DeviceChangeWatch over inotify.
#include "platform/linux/device_change_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <system_error>

namespace omr72 {
namespace {

namespace fs = std::filesystem;

// Node created, removed, renamed or re-permissioned; the folder itself removed or moved.
constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                             IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

DeviceChangeWatch::DeviceChangeWatch(std::vector<Folder> folders,
                                     std::function<Clock::time_point()> now)
    : folders_(std::move(folders)), now_(std::move(now)) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  WatchFolders();
}

DeviceChangeWatch::~DeviceChangeWatch() {
  if (fd_ >= 0) close(fd_);
}

// Adding a watch that exists already returns its descriptor again, so this may run any time.
void DeviceChangeWatch::WatchFolders() {
  if (fd_ < 0) return;
  allWatched_ = true;
  for (const Folder& folder : folders_) Watch(folder.path, folder.namePrefix, folder.subfolders);
}

void DeviceChangeWatch::Watch(const fs::path& path, const std::string& prefix, bool subfolders) {
  const int wd = inotify_add_watch(fd_, path.c_str(), kEvents);
  if (wd < 0) {
    allWatched_ = false;
    WatchForArrival(path);
    return;
  }
  watches_[wd] = {prefix, subfolders, path};
  if (!subfolders) return;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, ec)) {
    if (entry.is_directory(ec)) Watch(entry.path(), "", false);
  }
}

// A folder that does not exist yet (no USB bus has come up, say): its nearest existing
// ancestor is watched for the next folder on the way to it.
void DeviceChangeWatch::WatchForArrival(const fs::path& path) {
  fs::path missing = path;
  for (fs::path parent = path.parent_path(); parent != missing; parent = parent.parent_path()) {
    const int wd = inotify_add_watch(fd_, parent.c_str(), kEvents);
    if (wd >= 0) {
      watches_[wd] = {missing.filename().string(), false, parent};
      return;
    }
    missing = parent;
  }
}

// True when an event that matters has arrived since the last call.
bool DeviceChangeWatch::DrainEvents() {
  alignas(inotify_event) char buffer[4096];
  bool changed = false;
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) return changed;
    for (ssize_t at = 0; at < n;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      const char* name = buffer + at + sizeof event;
      at += static_cast<ssize_t>(sizeof event + event.len);
      if (event.mask & IN_Q_OVERFLOW) {
        changed = true;
        continue;
      }
      const auto it = watches_.find(event.wd);
      if (it == watches_.end()) continue;
      if (event.mask & IN_IGNORED) {
        // The folder went away: watch it again once it is back.
        watches_.erase(it);
        allWatched_ = false;
        changed = true;
        continue;
      }
      const Watched& watched = it->second;
      const std::string_view entry = event.len > 0 ? std::string_view(name) : std::string_view();
      if ((event.mask & IN_CREATE) && (event.mask & IN_ISDIR) && watched.subfolders) {
        Watch(watched.path / std::string(entry), "", false);
      }
      if (entry.starts_with(watched.namePrefix)) changed = true;
    }
  }
}

bool DeviceChangeWatch::ListingDue() {
  const Clock::time_point now = now_();
  bool due = !listed_ || fd_ < 0 || now - lastListing_ >= kRefresh;
  if (fd_ >= 0 && (!listed_ || now - lastCheck_ >= kEventCheck)) {
    lastCheck_ = now;
    if (DrainEvents()) {
      lastEvent_ = now;
      due = true;
    }
  }
  if (listed_ && now - lastEvent_ < kSettling) due = true;
  if (!due) return false;
  if (!allWatched_) WatchFolders();
  listed_ = true;
  lastListing_ = now;
  return true;
}

}  // namespace omr72
