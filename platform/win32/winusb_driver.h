// Windows: "\\.\ezusb-N" served through WinUSB, the USB driver that comes with Windows, where no
// EZ-USB driver object of that name opens.
//
// A 64-bit Windows 10 or 11 loads no EZ-USB driver (it is not signed through Microsoft), so
// there a recorder in its boot loader is reachable only through WinUSB, bound to it by
// omr72-winusb.inf, by Zadig or by hand in Device Manager. "\\.\ezusb-N" is then the N-th device
// of the served ids (kServedUsbDevices, as the INF file lists them) whose driver is WinUSB,
// counted in the order of its device instance path: Windows makes the instance id of a device
// without a serial number from the hub port it sits on, so the numbering holds while the same
// devices stay plugged in, also across the recorder's restarts. The four driver requests keep
// their meaning:
// - the device descriptor: WinUsb_GetDescriptor, 18 bytes;
// - the vendor-or-class request: WinUsb_ControlTransfer with the setup packet the request block
//   stands for, its data stage and direction from the block;
// - bulk read and write: WinUsb_ReadPipe and WinUsb_WritePipe on the endpoint at the pipe index's
//   place in interface 0's descriptor order, as the Linux backend maps it.
// A device object is one WinUSB session (file handle and interface handle) that lives for one
// request, as a driver handle does.
//
// Time-outs: WinUSB waits without limit on a bulk pipe by default (5 s on the control pipe).
// Every session sets 5 s on the control pipe before its request and 10 s on a bulk pipe before
// it is used, as the Linux backend does; a bulk transfer whose time-out cannot be set is not
// started.
//
// Listing: the connection wait opens every name every millisecond. SetupAPI's device listing is
// far dearer than an open, so the served devices are listed again only every two seconds, or at
// once after a listed device failed to open (it has gone). A device that arrives is found
// within two seconds; the one that stays is opened by its remembered path every time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/served_usb_devices.h"
#include "platform/usb_driver.h"
#include "platform/win32/winusb_api.h"

namespace omr72 {

// The vendor and product id in a device path or instance id ("...vid_10c4&pid_4512..."), in
// any case; nothing when it holds none.
std::optional<UsbId> UsbIdInPath(std::string_view path);

// "{C924586A-0707-4023-8909-FB221F9FE4E8}" as a GUID; nothing for anything else.
std::optional<GUID> ParseGuid(std::string_view text);

// A served device bound to WinUSB, as a listing found it.
struct WinUsbDevicePath {
  std::string path;      // the device interface path CreateFile opens
  std::string instance;  // the path's device instance part, lower case: the order and identity
  UsbId id;
};

class WinUsbDriver : public UsbDriver {
 public:
  static constexpr ULONGLONG kRefreshMs = 2000;
  static constexpr ULONG kControlTimeoutMs = 5000;
  static constexpr ULONG kBulkTimeoutMs = 10000;

  explicit WinUsbDriver(const WinUsbApi& api) : api_(api) {}

  std::unique_ptr<UsbDevice> Open(const char* path) override;
  // The N-th served device bound to WinUSB; nullptr when there is none or it does not open.
  std::unique_ptr<UsbDevice> OpenNth(unsigned n);
  // The devices the latest listing found, listed afresh when due (for the probe).
  const std::vector<WinUsbDevicePath>& Devices();

 private:
  void ListIfDue();
  std::vector<WinUsbDevicePath> List() const;
  void ListClass(const GUID& interfaceClass, std::vector<WinUsbDevicePath>& found) const;

  const WinUsbApi& api_;
  std::vector<WinUsbDevicePath> devices_;
  bool listed_ = false;
  bool stale_ = false;  // a listed device failed to open
  ULONGLONG lastListing_ = 0;
};

}  // namespace omr72
