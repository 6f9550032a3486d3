#include "updater/access_hint.h"

#include "usblink/usb_link.h"

namespace omr72 {

std::optional<std::string> AccessHintText(const std::vector<AccessDenial>& denials) {
  for (const AccessDenial& d : denials) {
    // Windows: no device rule helps; the process itself must be elevated.
    if (d.processPrivilege) {
      return "Access denied to " + d.node +
             " (perhaps the recorder): only a program run as administrator may use it. End "
             "this one, then right-click the updater, choose \"Run as administrator\" and "
             "confirm Windows' prompt.\n";
    }
    const bool usb = d.vendorId != 0 || d.productId != 0;
    if (usb && (d.vendorId != wire::kRecorderVendorId || d.productId != wire::kRecorderProductId))
      continue;
    const std::string what = usb ? "the recorder's boot-loader device " + d.node
                                 : d.node + " (a USB disk, perhaps the recorder)";
    return "Permission denied on " + what + ". Install the udev rules " + kUdevRulesFile +
           " (packaging/linux/ in the source; the omr72-updater package puts them in "
           "/usr/lib/udev/rules.d/), then plug the recorder in again; or run as root.\n";
  }
  return std::nullopt;
}

void AccessHint::Check(Platform& platform) {
  std::vector<AccessDenial> denials = platform.scsi.TakeAccessDenials();
  for (AccessDenial& d : platform.usb.TakeAccessDenials()) denials.push_back(std::move(d));
  if (shown_) return;
  if (std::optional<std::string> text = AccessHintText(denials)) {
    std::fputs(text->c_str(), out_);
    std::fflush(out_);
    shown_ = true;
  }
}

}  // namespace omr72
