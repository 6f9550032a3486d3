// omr72-probe's verdicts: on the emulated host for each route, and on a made-up machine for the
// verdicts the emulated host cannot show (a denied node, a failed INQUIRY, a near miss).
#include "tools/probe/probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "scsilink/scsi_link.h"
#include "tools/probe/emulated_survey.h"

namespace omr72::probe {
namespace {

const Finding& Named(const std::vector<Finding>& findings, const std::string& name) {
  auto it = std::find_if(findings.begin(), findings.end(),
                         [&](const Finding& f) { return f.name == name; });
  EXPECT_NE(it, findings.end()) << name;
  return *it;
}

TEST(ProbeEmulated, EachRouteShowsTheRecorderWhereItIs) {
  const struct {
    emu::StartRoute route;
    bool onUsb, onDisk;
  } cases[] = {{emu::StartRoute::kDisk, false, true},
               {emu::StartRoute::kUsb, true, false},
               {emu::StartRoute::kBoth, true, true},
               {emu::StartRoute::kNone, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.route));
    EmulatedSurvey survey(c.route);
    const std::vector<Finding> usb = ProbeUsbNames(survey);
    const std::vector<Finding> drives = ProbeDrives(survey);
    ASSERT_EQ(usb.size(), 9u);
    ASSERT_EQ(drives.size(), 9u);
    EXPECT_EQ(Named(usb, "ezusb-0").recorder, c.onUsb);
    EXPECT_EQ(Named(usb, "ezusb-0").verdict,
              c.onUsb ? "10c4:4512: the recorder's boot loader" : "no device");
    EXPECT_EQ(Named(drives, "PHYSICALDRIVE1").recorder, c.onDisk);
    EXPECT_EQ(Named(drives, "PHYSICALDRIVE1").verdict,
              c.onDisk ? "INQUIRY matches: the recorder's disk" : "no device");
    EXPECT_EQ(Named(usb, "ezusb-1").verdict, "0781:5567: other ids, not the recorder");
    EXPECT_EQ(Named(drives, "PHYSICALDRIVE0").verdict.rfind("INQUIRY differs at byte 1 ", 0), 0u)
        << Named(drives, "PHYSICALDRIVE0").verdict;
    EXPECT_EQ(Named(drives, "PHYSICALDRIVE8").verdict, "no device");
  }
}

// The foreign devices received a descriptor request and INQUIRY, nothing else.
TEST(ProbeEmulated, ReadsNothingButDescriptorsAndInquiry) {
  EmulatedSurvey survey(emu::StartRoute::kBoth);
  ProbeUsbNames(survey);
  ProbeDrives(survey);
  const auto* disk = survey.host().ForeignDiskLog(0);
  const auto* usb = survey.host().ForeignUsbLog(1);
  ASSERT_TRUE(disk && usb);
  ASSERT_EQ(disk->size(), 1u);
  EXPECT_EQ(disk->front().cdb[0], 0x12);
  ASSERT_EQ(usb->size(), 1u);
  EXPECT_EQ(usb->front().kind, emu::ForeignUsbRequest::kDescriptor);
  // The recorder's presence requests are not traced; its state shows that nothing changed.
  EXPECT_EQ(survey.host().StateJson(), EmulatedSurvey(emu::StartRoute::kBoth).host().StateJson());
}

// A made-up machine: per name, what Open does and what the device answers.
struct Slot {
  std::string node;
  bool denied = false;
  uint16_t vendor = 0, product = 0;  // a denied USB device's ids; a USB device's ids
  bool descriptorFails = false;
  int inquiryByteWrong = -1;  // -1: the recorder's INQUIRY data
  bool inquiryFails = false;
};

class MadeUpDevice : public UsbDevice, public ScsiDrive {
 public:
  explicit MadeUpDevice(const Slot& slot) : slot_(slot) {}
  bool GetDeviceDescriptor(DeviceDescriptorSpan d) override {
    if (slot_.descriptorFails) return false;
    std::fill(d.begin(), d.end(), 0);
    d[8] = static_cast<uint8_t>(slot_.vendor);
    d[9] = static_cast<uint8_t>(slot_.vendor >> 8);
    d[10] = static_cast<uint8_t>(slot_.product);
    d[11] = static_cast<uint8_t>(slot_.product >> 8);
    return true;
  }

 private:
  bool DoVendorOrClassRequest(const VendorRequestBlock&, DataStage) override {
    ADD_FAILURE() << "the probe sent a vendor request";
    return false;
  }
  bool DoBulkRead(const BulkPipeBlock&, ByteSpan, uint32_t&) override {
    ADD_FAILURE() << "the probe read a pipe";
    return false;
  }
  bool DoBulkWrite(const BulkPipeBlock&, ConstByteSpan, uint32_t&) override {
    ADD_FAILURE() << "the probe wrote a pipe";
    return false;
  }
  bool DoExecute(const ScsiRequest& r, uint8_t& status) override {
    EXPECT_EQ(r.cdb[0], 0x12) << "the probe sent more than INQUIRY";
    EXPECT_TRUE(r.data.isIn());
    status = slot_.inquiryFails ? 2 : 0;
    const ByteSpan reply = r.data.in();
    std::copy(wire::kInquiryTemplate.begin(), wire::kInquiryTemplate.end(), reply.begin());
    if (slot_.inquiryByteWrong >= 0) reply[slot_.inquiryByteWrong] ^= 0x01;
    return true;
  }

  Slot slot_;
};

// Opens what the slots hold; a denied slot is noted the way a backend notes it.
class MadeUpNames {
 public:
  explicit MadeUpNames(const std::map<std::string, Slot>& slots) : slots_(slots) {}
  std::string Node(const char* name) const {
    auto it = slots_.find(name);
    return it == slots_.end() ? "" : it->second.node;
  }
  MadeUpDevice* Opened(const char* name) {
    auto it = slots_.find(name);
    if (it == slots_.end()) return nullptr;
    if (it->second.denied) {
      denials_.push_back({it->second.node, it->second.vendor, it->second.product});
      return nullptr;
    }
    return new MadeUpDevice(it->second);
  }
  std::vector<AccessDenial> Take() { return std::exchange(denials_, {}); }

 private:
  const std::map<std::string, Slot>& slots_;
  std::vector<AccessDenial> denials_;
};

struct MadeUpUsb : UsbDriver {
  explicit MadeUpUsb(const std::map<std::string, Slot>& slots) : names(slots) {}
  std::unique_ptr<UsbDevice> Open(const char* path) override {
    return std::unique_ptr<UsbDevice>(names.Opened(path));
  }
  std::vector<AccessDenial> TakeAccessDenials() override { return names.Take(); }
  MadeUpNames names;
};

struct MadeUpDisks : ScsiPassThrough {
  explicit MadeUpDisks(const std::map<std::string, Slot>& slots) : names(slots) {}
  std::unique_ptr<ScsiDrive> Open(const char* name) override {
    return std::unique_ptr<ScsiDrive>(names.Opened(name));
  }
  std::vector<AccessDenial> TakeAccessDenials() override { return names.Take(); }
  MadeUpNames names;
};

class MadeUpMachine : public DeviceSurvey {
 public:
  explicit MadeUpMachine(std::map<std::string, Slot> slots)
      : slots_(std::move(slots)), usb_(slots_), disks_(slots_) {}
  UsbDriver& usb() override { return usb_; }
  ScsiPassThrough& scsi() override { return disks_; }
  std::string UsbNode(const char* path) override { return usb_.names.Node(path); }
  std::string DriveNode(const char* name) override { return disks_.names.Node(name); }
  std::vector<std::string> UnaddressedDrives() override { return {"/dev/sg0: an ATA disk"}; }
  std::string UsbRouteNeeds() override { return "usbfs access."; }
  std::string DiskRouteNeeds() override { return "sg access."; }

 private:
  std::map<std::string, Slot> slots_;
  MadeUpUsb usb_;
  MadeUpDisks disks_;
};

TEST(ProbeVerdicts, WhyEachNameIsOrIsNotTheRecorder) {
  MadeUpMachine machine({
      {R"(\\.\ezusb-0)",
       {.node = "/dev/bus/usb/001/002", .denied = true, .vendor = 0x10C4, .product = 0x4512}},
      {R"(\\.\ezusb-1)",
       {.node = "/dev/bus/usb/001/003", .denied = true, .vendor = 0x0403, .product = 0x6001}},
      {R"(\\.\ezusb-2)", {.node = "/dev/bus/usb/001/004", .descriptorFails = true}},
      {R"(\\.\ezusb-3)", {.node = "/dev/bus/usb/001/005", .vendor = 0x10C4, .product = 0x4513}},
      {R"(\\.\PHYSICALDRIVE0)", {.node = "/dev/sg1", .denied = true}},
      {R"(\\.\PHYSICALDRIVE1)", {.node = "/dev/sg2", .inquiryByteWrong = 35}},
      {R"(\\.\PHYSICALDRIVE2)", {.node = "/dev/sg3", .inquiryFails = true}},
      {R"(\\.\PHYSICALDRIVE3)", {.node = "/dev/sg4"}},
  });
  const std::vector<Finding> usb = ProbeUsbNames(machine);
  const std::vector<Finding> drives = ProbeDrives(machine);
  const struct {
    const std::vector<Finding>& findings;
    const char* name;
    const char* node;
    const char* verdict;
  } cases[] = {
      {usb, "ezusb-0", "/dev/bus/usb/001/002",
       "permission denied (10c4:4512: the recorder's boot loader)"},
      {usb, "ezusb-1", "/dev/bus/usb/001/003",
       "permission denied (0403:6001: other ids, not the recorder)"},
      {usb, "ezusb-2", "/dev/bus/usb/001/004", "the device descriptor request failed"},
      {usb, "ezusb-3", "/dev/bus/usb/001/005", "10c4:4513: other ids, not the recorder"},
      {usb, "ezusb-4", "", "no device"},
      {drives, "PHYSICALDRIVE0", "/dev/sg1", "permission denied"},
      {drives, "PHYSICALDRIVE1", "/dev/sg2",
       "INQUIRY differs at byte 35 (0x00, the recorder's 0x01): \"Cool ?   Mass Storage ?  \", "
       "not the recorder"},
      {drives, "PHYSICALDRIVE2", "/dev/sg3", "INQUIRY failed"},
      {drives, "PHYSICALDRIVE3", "/dev/sg4", "INQUIRY matches: the recorder's disk"},
      {drives, "PHYSICALDRIVE4", "", "no device"},
  };
  for (const auto& c : cases) {
    const Finding& f = Named(c.findings, c.name);
    EXPECT_EQ(f.node, c.node) << c.name;
    EXPECT_EQ(f.verdict, c.verdict) << c.name;
  }
  const std::string report = Report(machine, usb, drives);
  EXPECT_NE(report.find("Never addressed:\n  /dev/sg0: an ATA disk\n"), std::string::npos)
      << report;
  EXPECT_NE(report.find("The disk route needs:\n  sg access.\n"), std::string::npos) << report;
}

}  // namespace
}  // namespace omr72::probe
