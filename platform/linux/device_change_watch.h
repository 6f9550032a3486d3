// Linux: whether the devices in some /dev folders may have changed since a presence scan last
// listed them.
//
// The connection and restart waits scan every millisecond. Listing USB devices and walking
// sysfs on every pass costs a few per cent of a core although nothing changes for minutes; the
// kernel creates, removes and re-permissions a device node in devtmpfs whenever a device comes,
// goes or gets its permissions from udev, and inotify reports exactly that. So a scan lists
// afresh only after such an event. Three safety nets keep a missed or early event harmless: a
// scan lists afresh on every pass for a short settling time after the last event (libusb and
// sysfs may learn of a device a moment after its node appears), at least every two seconds in any
// case, and on every pass when inotify is not available. A folder that does not exist yet is
// waited for through its nearest existing ancestor. Devices that a listing found are still
// opened by every scan; only the listing is saved.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace omr72 {

class DeviceChangeWatch {
 public:
  using Clock = std::chrono::steady_clock;
  // Events are read at most this often: every pass of a wait asks several times, and a read
  // is a system call each time.
  static constexpr std::chrono::milliseconds kEventCheck{4};
  static constexpr std::chrono::milliseconds kSettling{500};
  static constexpr std::chrono::milliseconds kRefresh{2000};

  struct Folder {
    std::filesystem::path path;
    std::string namePrefix;   // only entries whose names start with it count ("" for all)
    bool subfolders = false;  // also the folders directly below it, present and future
  };

  explicit DeviceChangeWatch(std::vector<Folder> folders,
                             std::function<Clock::time_point()> now = Clock::now);
  ~DeviceChangeWatch();
  DeviceChangeWatch(const DeviceChangeWatch&) = delete;
  DeviceChangeWatch& operator=(const DeviceChangeWatch&) = delete;

  // True when the caller is to list the devices afresh now; the caller then does so.
  bool ListingDue();

 private:
  struct Watched {
    std::string namePrefix;
    bool subfolders = false;
    std::filesystem::path path;
  };

  void WatchFolders();
  void Watch(const std::filesystem::path& path, const std::string& prefix, bool subfolders);
  void WatchForArrival(const std::filesystem::path& path);
  bool DrainEvents();

  std::vector<Folder> folders_;
  std::function<Clock::time_point()> now_;
  int fd_ = -1;
  std::map<int, Watched> watches_;  // by watch descriptor
  bool allWatched_ = false;
  bool listed_ = false;
  Clock::time_point lastEvent_{};
  Clock::time_point lastCheck_{};
  Clock::time_point lastListing_{};
};

}  // namespace omr72
