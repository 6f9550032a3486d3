// Windows: Win32UsbDriver, the EZ-USB general-purpose driver's device objects, and where a name
// has none, the served device of that number bound to WinUSB (winusb_driver.h).
#include <windows.h>

#include <memory>
#include <vector>

#include "platform/native.h"
#include "platform/win32/access_denial.h"
#include "platform/win32/handle.h"
#include "platform/win32/winusb_driver.h"

namespace omr72 {
namespace {

constexpr DWORD kIoctlGetDeviceDescriptor = 0x222004;
constexpr DWORD kIoctlVendorOrClassRequest = 0x222059;
constexpr DWORD kIoctlBulkRead = 0x22204E;
constexpr DWORD kIoctlBulkWrite = 0x222051;

class Win32UsbDevice : public UsbDevice {
 public:
  explicit Win32UsbDevice(HANDLE handle) : handle_(handle) {}

  bool GetDeviceDescriptor(DeviceDescriptorSpan descriptor) override {
    DWORD returned = 0;
    return DeviceIoControl(handle_.get(), kIoctlGetDeviceDescriptor, descriptor.data(),
                           descriptor.size(), descriptor.data(), descriptor.size(), &returned,
                           nullptr) != 0;
  }

 private:
  // DeviceIoControl takes mutable buffers even where the driver only reads them: the request
  // and pipe blocks, and the source of data going out, are handed over as copies.
  bool DoVendorOrClassRequest(const VendorRequestBlock& block, DataStage data) override {
    VendorRequestBlock input = block;
    std::vector<uint8_t> sent(data.out().begin(), data.out().end());
    uint8_t* buffer = data.isIn() ? data.in().data() : sent.data();
    DWORD returned = 0;
    return DeviceIoControl(handle_.get(), kIoctlVendorOrClassRequest, input.data(), input.size(),
                           data.empty() ? nullptr : buffer, data.size(), &returned, nullptr) != 0;
  }

  bool DoBulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) override {
    return Bulk(kIoctlBulkRead, pipe, data, moved);
  }

  bool DoBulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) override {
    // For a bulk write the driver takes the output buffer as the source.
    std::vector<uint8_t> sent(data.begin(), data.end());
    return Bulk(kIoctlBulkWrite, pipe, sent, moved);
  }

  bool Bulk(DWORD code, const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) {
    BulkPipeBlock input = pipe;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(handle_.get(), code, input.data(), input.size(), data.data(),
                              data.size(), &returned, nullptr);
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
    if (handle != INVALID_HANDLE_VALUE) return std::make_unique<Win32UsbDevice>(handle);
    // A driver object that refuses us is the recorder's, not WinUSB's: say so, do not look
    // further.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
      NoteDenial(denials_, path);
      return nullptr;
    }
    return WinUsb().Open(path);
  }
  std::vector<AccessDenial> TakeAccessDenials() override { return denials_.Take(); }

 private:
  // SetupAPI and WinUSB are loaded only once a name has no EZ-USB driver object behind it.
  WinUsbDriver& WinUsb() {
    if (!winUsb_) winUsb_ = std::make_unique<WinUsbDriver>(SystemWinUsbApi());
    return *winUsb_;
  }

  AccessDenialLog denials_;
  std::unique_ptr<WinUsbDriver> winUsb_;
};

}  // namespace

std::unique_ptr<UsbDriver> NativePlatform::MakeUsbDriver() {
  return std::make_unique<Win32UsbDriver>();
}

}  // namespace omr72
