// Linux: LinuxSgPassThrough, one CDB per SG_IO ioctl on a USB disk's sg device.
#include "platform/linux/pass_through.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/native.h"

namespace omr72 {
namespace {

namespace fs = std::filesystem;

bool BoundToUsbStorage(const fs::path& device) {
  std::error_code ec;
  fs::path driver = fs::read_symlink(device / "driver", ec);
  if (ec) return false;
  std::string name = driver.filename().string();
  return name == "usb-storage" || name == "uas";
}

bool SitsOnUsbStorage(const fs::path& sysfsRoot, const fs::path& sgEntry) {
  std::error_code ec;
  fs::path root = fs::canonical(sysfsRoot, ec);
  if (ec) return false;
  fs::path device = fs::canonical(sgEntry / "device", ec);
  if (ec) return false;
  for (fs::path p = device; p != root && p != p.parent_path(); p = p.parent_path()) {
    if (BoundToUsbStorage(p)) return true;
  }
  return false;
}

std::optional<unsigned> SgNumber(std::string_view name) {
  if (name.size() < 3 || name.size() > 8 || !name.starts_with("sg")) return std::nullopt;
  unsigned k = 0;
  for (char c : name.substr(2)) {
    if (c < '0' || c > '9') return std::nullopt;
    k = k * 10 + static_cast<unsigned>(c - '0');
  }
  return k;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class LinuxSgDrive : public ScsiDrive {
 public:
  explicit LinuxSgDrive(int fd) : fd_(fd) {}

 private:
  bool DoExecute(const ScsiRequest& request, uint8_t& scsiStatus) override {
    SgIoBuffers buffers;
    sg_io_hdr header = BuildSgIoHeader(request, buffers);
    int rc = ioctl(fd_.get(), SG_IO, &header);
    if (rc == 0) scsiStatus = header.status;
    return SgIoCompleted(rc, header);
  }

  Fd fd_;
};

}  // namespace

std::optional<unsigned> DriveIndex(const char* deviceName) {
  constexpr std::string_view kPrefix = R"(\\.\PHYSICALDRIVE)";
  if (deviceName == nullptr) return std::nullopt;
  std::string_view name(deviceName);
  if (name.size() != kPrefix.size() + 1 || !name.starts_with(kPrefix)) return std::nullopt;
  char digit = name.back();
  if (digit < '0' || digit > '9') return std::nullopt;
  return static_cast<unsigned>(digit - '0');
}

std::vector<unsigned> UsbScsiGenericDevices(const fs::path& sysfsRoot) {
  std::vector<unsigned> found;
  std::error_code ec;
  fs::directory_iterator it(sysfsRoot / "class" / "scsi_generic", ec);
  if (ec) return found;
  for (const fs::directory_entry& entry : it) {
    std::optional<unsigned> k = SgNumber(entry.path().filename().string());
    if (k && SitsOnUsbStorage(sysfsRoot, entry.path())) found.push_back(*k);
  }
  std::sort(found.begin(), found.end());
  return found;
}

// sg_io_hdr takes mutable pointers to the command and to data in either direction; the command
// and the bytes sent go from the copies in `buffers`, data coming in straight into its buffer.
sg_io_hdr BuildSgIoHeader(const ScsiRequest& request, SgIoBuffers& buffers) {
  buffers.cdb = request.cdb;
  buffers.dataOut.assign(request.data.out().begin(), request.data.out().end());
  sg_io_hdr h{};
  h.interface_id = 'S';
  h.cmd_len = static_cast<unsigned char>(buffers.cdb.size());
  h.cmdp = buffers.cdb.data();
  h.mx_sb_len = kSgSenseRequested;
  h.sbp = buffers.sense.data();
  if (request.data.empty()) {
    h.dxfer_direction = SG_DXFER_NONE;
  } else {
    h.dxfer_direction = request.data.isIn() ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    h.dxfer_len = request.length();
    h.dxferp = request.data.isIn() ? request.data.in().data() : buffers.dataOut.data();
  }
  h.timeout = request.timeoutSeconds > UINT_MAX / 1000 ? UINT_MAX : request.timeoutSeconds * 1000;
  return h;
}

bool SgIoCompleted(int ioctlResult, const sg_io_hdr& header) {
  return ioctlResult == 0 && (header.info & SG_INFO_OK_MASK) == SG_INFO_OK;
}

LinuxSgPassThrough::LinuxSgPassThrough(fs::path sysfsRoot, fs::path deviceDir)
    : sysfsRoot_(std::move(sysfsRoot)),
      deviceDir_(std::move(deviceDir)),
      watch_({{deviceDir_, "sg", false}}) {}

const std::vector<unsigned>& LinuxSgPassThrough::UsbDrives() {
  if (watch_.ListingDue()) drives_ = UsbScsiGenericDevices(sysfsRoot_);
  return drives_;
}

std::string LinuxSgPassThrough::NodeOf(const char* deviceName) {
  std::optional<unsigned> index = DriveIndex(deviceName);
  if (!index) return "";
  const std::vector<unsigned>& drives = UsbDrives();
  if (*index >= drives.size()) return "";
  return (deviceDir_ / ("sg" + std::to_string(drives[*index]))).string();
}

std::unique_ptr<ScsiDrive> LinuxSgPassThrough::Open(const char* deviceName) {
  const std::string path = NodeOf(deviceName);
  if (path.empty()) return nullptr;
  int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EPERM)) denials_.Note({path});
  if (fd < 0) return nullptr;
  return std::make_unique<LinuxSgDrive>(fd);
}

std::unique_ptr<ScsiPassThrough> NativePlatform::MakePassThrough() {
  return std::make_unique<LinuxSgPassThrough>();
}

}  // namespace omr72
