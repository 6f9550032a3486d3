// Windows: Win32PassThrough, IOCTL_SCSI_PASS_THROUGH_DIRECT on "\\.\PHYSICALDRIVEn".
//
// A 32-bit build hands the OS the 80-byte block of the 32-bit structure; a 64-bit build (used
// to run the tests) must hand it the native layout with an 8-byte buffer pointer instead.
#include <windows.h>
// ntddscsi.h needs the types of windows.h first.
#include <ntddscsi.h>

#include <cstddef>
#include <memory>

#include "platform/native.h"
#include "platform/pass_through_block.h"
#include "platform/win32/access_denial.h"
#include "platform/win32/handle.h"
#include "platform/win32/pass_through_block64.h"

namespace omr72 {
namespace {

constexpr DWORD kIoctlScsiPassThroughDirect = 0x4D014;
static_assert(kIoctlScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);

// The OS reads data going out from this address and writes data coming in there; 0 when
// there is no data.
uintptr_t DataAddress(const ScsiRequest& request) {
  if (request.data.empty()) return 0;
  return reinterpret_cast<uintptr_t>(request.data.bytes().data());
}

#if defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == kPassThroughLength64);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) ==
              kPassThrough64DataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == kPassThrough64TimeOutValue);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == kPassThrough64DataBuffer);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == kPassThrough64SenseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == kPassThrough64Cdb);

PassThroughBlock64 NativeBlock(const ScsiRequest& request) {
  return BuildPassThroughBlock64(request, DataAddress(request));
}
#else
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == kPassThroughLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28);

PassThroughBlock NativeBlock(const ScsiRequest& request) {
  return BuildPassThroughBlock(request, static_cast<uint32_t>(DataAddress(request)));
}
#endif
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == kPassThroughStatusOffset);

class Win32Drive : public ScsiDrive {
 public:
  explicit Win32Drive(HANDLE handle) : handle_(handle) {}

 private:
  bool DoExecute(const ScsiRequest& request, uint8_t& scsiStatus) override {
    auto block = NativeBlock(request);
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(handle_.get(), kIoctlScsiPassThroughDirect, block.data(),
                              block.size(), block.data(), block.size(), &returned, nullptr);
    if (!ok) return false;
    scsiStatus = block[kPassThroughStatusOffset];
    return true;
  }

  Win32Handle handle_;
};

class Win32PassThrough : public ScsiPassThrough {
 public:
  std::unique_ptr<ScsiDrive> Open(const char* deviceName) override {
    HANDLE handle = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      NoteDenial(denials_, deviceName);
      return nullptr;
    }
    return std::make_unique<Win32Drive>(handle);
  }
  std::vector<AccessDenial> TakeAccessDenials() override { return denials_.Take(); }

 private:
  AccessDenialLog denials_;
};

}  // namespace

std::unique_ptr<ScsiPassThrough> NativePlatform::MakePassThrough() {
  return std::make_unique<Win32PassThrough>();
}

}  // namespace omr72
