#include "tools/probe/probe.h"

#include <array>
#include <cstdio>
#include <memory>

#include "scsilink/scsi_link.h"
#include "usblink/usb_link.h"
#include "wire/byte_order.h"
#include "wire/recorder_wire.h"

namespace omr72::probe {
namespace {

using wire::kInquiryReplySize;
using wire::kInquiryTemplate;
using wire::kRecorderProductId;
using wire::kRecorderVendorId;

constexpr int kNames = 9;
constexpr size_t kVendorOffset = 8;
constexpr size_t kProductOffset = 10;

std::string Ids(uint16_t vendor, uint16_t product) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", vendor, product);
  return text;
}

// Built by appending: GCC 12's -Wrestrict takes "literal" + std::string for an overlapping
// copy when it inlines it at -O3 for i686.
std::string DeviceName(const char* stem, int n) {
  std::string name(stem);
  name += std::to_string(n);
  return name;
}

std::string DevicePath(const std::string& name) {
  std::string path = "\\\\.\\";
  path += name;
  return path;
}

// Why Open gave nothing: a denial the backend recorded, else there is nothing to open.
std::string Unopened(const std::vector<AccessDenial>& denials, const std::string& node, bool usb) {
  if (!denials.empty()) {
    const AccessDenial& d = denials.front();
    std::string what = "permission denied";
    if (usb) {
      const bool ours = d.vendorId == kRecorderVendorId && d.productId == kRecorderProductId;
      what += ours ? " (" + Ids(d.vendorId, d.productId) + ": the recorder's boot loader)"
                   : " (" + Ids(d.vendorId, d.productId) + ": other ids, not the recorder)";
    }
    return what;
  }
  return node.empty() ? "no device" : "cannot be opened";
}

Finding ProbeUsbName(DeviceSurvey& survey, int n) {
  Finding f;
  f.name = DeviceName("ezusb-", n);
  const std::string path = DevicePath(f.name);
  f.node = survey.UsbNode(path.c_str());
  std::unique_ptr<UsbDevice> device = survey.usb().Open(path.c_str());
  const std::vector<AccessDenial> denials = survey.usb().TakeAccessDenials();
  if (!device) {
    f.verdict = Unopened(denials, f.node, true);
    return f;
  }
  std::array<uint8_t, kDeviceDescriptorSize> descriptor = {};
  if (!device->GetDeviceDescriptor(descriptor)) {
    f.verdict = "the device descriptor request failed";
    return f;
  }
  const uint16_t vendor = LoadLe16(descriptor, kVendorOffset);
  const uint16_t product = LoadLe16(descriptor, kProductOffset);
  f.recorder = vendor == kRecorderVendorId && product == kRecorderProductId;
  f.verdict = f.recorder ? Ids(vendor, product) + ": the recorder's boot loader"
                         : Ids(vendor, product) + ": other ids, not the recorder";
  return f;
}

// INQUIRY's vendor and product fields, control bytes shown as '?'.
std::string VendorProduct(const std::vector<uint8_t>& reply) {
  std::string text;
  for (size_t i = 8; i < 32; ++i) {
    if (i == 16) text += ' ';
    text += reply[i] >= 0x20 && reply[i] < 0x7F ? static_cast<char>(reply[i]) : '?';
  }
  return "\"" + text + "\"";
}

// The INQUIRY the disk link sends (allocation length 0 in the CDB, 2048 bytes asked for).
Finding ProbeDrive(DeviceSurvey& survey, int n) {
  Finding f;
  f.name = DeviceName("PHYSICALDRIVE", n);
  const std::string name = DevicePath(f.name);
  f.node = survey.DriveNode(name.c_str());
  std::unique_ptr<ScsiDrive> drive = survey.scsi().Open(name.c_str());
  const std::vector<AccessDenial> denials = survey.scsi().TakeAccessDenials();
  if (!drive) {
    f.verdict = Unopened(denials, f.node, false);
    return f;
  }
  std::vector<uint8_t> reply(kInquiryReplySize, 0);
  ScsiRequest request;
  request.cdb[0] = wire::kInquiryOpcode;
  request.data = DataStage::In(reply);
  uint8_t status = 0xFF;
  if (!drive->Execute(request, status) || status != wire::kGoodStatus) {
    f.verdict = "INQUIRY failed";
    return f;
  }
  for (size_t i = 0; i < kInquiryTemplate.size(); ++i) {
    if (reply[i] == kInquiryTemplate[i]) continue;
    char text[96];
    std::snprintf(text, sizeof text, "INQUIRY differs at byte %zu (0x%02X, the recorder's 0x%02X)",
                  i, reply[i], kInquiryTemplate[i]);
    f.verdict = std::string(text) + ": " + VendorProduct(reply) + ", not the recorder";
    return f;
  }
  f.recorder = true;
  f.verdict = "INQUIRY matches: the recorder's disk";
  return f;
}

void AppendFindings(std::string& out, const std::vector<Finding>& findings) {
  for (const Finding& f : findings) {
    char line[64];
    std::snprintf(line, sizeof line, "  %-15s %-22s ", f.name.c_str(),
                  f.node.empty() ? "-" : f.node.c_str());
    out += line + f.verdict + "\n";
  }
}

// `text` in lines of at most `width` characters, each after `indent`.
std::string Wrapped(const std::string& text, size_t width, const std::string& indent) {
  std::string out, line;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += indent + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  if (!line.empty()) out += indent + line + "\n";
  return out;
}

}  // namespace

std::vector<Finding> ProbeUsbNames(DeviceSurvey& survey) {
  std::vector<Finding> findings;
  for (int n = 0; n < kNames; ++n) findings.push_back(ProbeUsbName(survey, n));
  return findings;
}

std::vector<Finding> ProbeDrives(DeviceSurvey& survey) {
  std::vector<Finding> findings;
  for (int n = 0; n < kNames; ++n) findings.push_back(ProbeDrive(survey, n));
  return findings;
}

std::string Report(DeviceSurvey& survey, const std::vector<Finding>& usb,
                   const std::vector<Finding>& drives) {
  std::string out = "USB route (boot-loader device 10c4:4512):\n";
  AppendFindings(out, usb);
  out += "Disk route (USB disks, identified by INQUIRY):\n";
  AppendFindings(out, drives);
  const std::vector<std::string> unaddressed = survey.UnaddressedDrives();
  if (!unaddressed.empty()) {
    out += "Never addressed:\n";
    for (const std::string& line : unaddressed) out += "  " + line + "\n";
  }
  out += "The USB route needs:\n" + Wrapped(survey.UsbRouteNeeds(), 76, "  ");
  out += "The disk route needs:\n" + Wrapped(survey.DiskRouteNeeds(), 76, "  ");
  return out;
}

}  // namespace omr72::probe
