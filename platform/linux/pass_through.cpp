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

constexpr uint8_t kInquiryOpcode = 0x12;

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

// A scan's INQUIRY goes to the device at the digit's position now; every other command to the
// device that the digit's last INQUIRY reached, wherever it sits now (see sg_devices.h).
class LinuxSgDrive : public ScsiDrive {
 public:
  LinuxSgDrive(SgDriveMap& map, unsigned digit, std::optional<UsbSgDevice> atPosition, int scanFd,
               int commandFd)
      : map_(map),
        digit_(digit),
        atPosition_(std::move(atPosition)),
        scanFd_(scanFd),
        commandFd_(commandFd) {}

 private:
  bool DoExecute(const ScsiRequest& request, uint8_t& scsiStatus) override {
    const bool inquiry = request.cdb[0] == kInquiryOpcode;
    if (inquiry) map_.Bind(digit_, atPosition_);
    const int fd = inquiry ? scanFd_.get() : commandFd_.get();
    if (fd < 0) return false;
    SgIoBuffers buffers;
    sg_io_hdr header = BuildSgIoHeader(request, buffers);
    int rc = ioctl(fd, SG_IO, &header);
    if (rc == 0) scsiStatus = header.status;
    return SgIoCompleted(rc, header);
  }

  SgDriveMap& map_;
  unsigned digit_;
  std::optional<UsbSgDevice> atPosition_;
  Fd scanFd_;
  Fd commandFd_;
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
  std::vector<unsigned> numbers;
  for (const UsbSgDevice& device : ListUsbSgDevices(sysfsRoot)) numbers.push_back(device.number);
  return numbers;
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
    : deviceDir_(std::move(deviceDir)),
      watch_({{deviceDir_, "sg", false}}),
      map_(std::move(sysfsRoot), [this] { return watch_.ListingDue(); }) {}

// What a scan's INQUIRY through the device name reaches: the digit's position now.
std::string LinuxSgPassThrough::NodeOf(const char* deviceName) {
  std::optional<unsigned> index = DriveIndex(deviceName);
  if (!index) return "";
  std::optional<UsbSgDevice> device = map_.AtPosition(*index);
  if (!device) return "";
  return (deviceDir_ / ("sg" + std::to_string(device->number))).string();
}

int LinuxSgPassThrough::OpenNode(std::optional<unsigned> number) {
  if (!number) return -1;
  const std::string path = (deviceDir_ / ("sg" + std::to_string(*number))).string();
  int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EPERM)) denials_.Note({path});
  return fd;
}

// Both devices a command through this digit may go to are opened now: which one it is depends
// on the command, which Execute gets to see.
std::unique_ptr<ScsiDrive> LinuxSgPassThrough::Open(const char* deviceName) {
  std::optional<unsigned> index = DriveIndex(deviceName);
  if (!index) return nullptr;
  std::optional<UsbSgDevice> atPosition = map_.AtPosition(*index);
  const int scanFd = OpenNode(atPosition ? std::optional(atPosition->number) : std::nullopt);
  const int commandFd = OpenNode(map_.Named(*index));
  if (scanFd < 0 && commandFd < 0) return nullptr;
  return std::make_unique<LinuxSgDrive>(map_, *index, std::move(atPosition), scanFd, commandFd);
}

std::unique_ptr<ScsiPassThrough> NativePlatform::MakePassThrough() {
  return std::make_unique<LinuxSgPassThrough>();
}

}  // namespace omr72
