// Windows: Win32UsbDriver, the EZ-USB general-purpose driver's device objects.
#include <windows.h>

#include <memory>

#include "platform/native.h"
#include "platform/win32/handle.h"

namespace omr72 {
namespace {

constexpr DWORD kIoctlGetDeviceDescriptor = 0x222004;
constexpr DWORD kIoctlVendorOrClassRequest = 0x222059;
constexpr DWORD kIoctlBulkRead = 0x22204E;
constexpr DWORD kIoctlBulkWrite = 0x222051;

class Win32UsbDevice : public UsbDevice {
 public:
  explicit Win32UsbDevice(HANDLE handle) : handle_(handle) {}

  bool GetDeviceDescriptor(uint8_t* descriptor) override {
    DWORD returned = 0;
    return DeviceIoControl(handle_.get(), kIoctlGetDeviceDescriptor, descriptor,
                           kDeviceDescriptorSize, descriptor, kDeviceDescriptorSize, &returned,
                           nullptr) != 0;
  }

  bool VendorOrClassRequest(const VendorRequestBlock& block, uint8_t* data,
                            uint32_t length) override {
    DWORD returned = 0;
    // The driver only reads the request block.
    return DeviceIoControl(handle_.get(), kIoctlVendorOrClassRequest,
                           const_cast<uint8_t*>(block.data()), block.size(),
                           length != 0 ? data : nullptr, length, &returned, nullptr) != 0;
  }

  bool BulkRead(const BulkPipeBlock& pipe, uint8_t* data, uint32_t length,
                uint32_t& moved) override {
    return Bulk(kIoctlBulkRead, pipe, data, length, moved);
  }

  bool BulkWrite(const BulkPipeBlock& pipe, const uint8_t* data, uint32_t length,
                 uint32_t& moved) override {
    // For a bulk write the driver takes the output buffer as the source and only reads it.
    return Bulk(kIoctlBulkWrite, pipe, const_cast<uint8_t*>(data), length, moved);
  }

 private:
  bool Bulk(DWORD code, const BulkPipeBlock& pipe, uint8_t* data, uint32_t length,
            uint32_t& moved) {
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(handle_.get(), code, const_cast<uint8_t*>(pipe.data()), pipe.size(),
                              data, length, &returned, nullptr);
    moved = returned;
    return ok != 0;
  }

  Win32Handle handle_;
};

class Win32UsbDriver : public UsbDriver {
 public:
  std::unique_ptr<UsbDevice> Open(const char* path) override {
    HANDLE handle =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32UsbDevice>(handle);
  }
};

}  // namespace

std::unique_ptr<UsbDriver> NativePlatform::MakeUsbDriver() {
  return std::make_unique<Win32UsbDriver>();
}

}  // namespace omr72
