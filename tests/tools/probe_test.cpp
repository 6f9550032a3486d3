// omr72-probe's verdicts: on the emulated host for each route, and on a made-up machine for the
// verdicts the emulated host cannot show (a denied node, a failed INQUIRY, a near miss).
#include "tools/probe/probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scsilink/scsi_link.h"
#include "tests/fakes/nine_devices.h"
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

// A made-up machine for the verdicts the emulated host cannot show; its nodes are the slots'.
class MadeUpMachine : public DeviceSurvey {
 public:
  fakes::NineDevices host;
  UsbDriver& usb() override { return host.usb; }
  ScsiPassThrough& scsi() override { return host.scsi; }
  std::string UsbNode(const char* path) override { return Node(host.usbSlots, path); }
  std::string DriveNode(const char* name) override { return Node(host.driveSlots, name); }
  std::vector<std::string> UnaddressedDrives() override { return {"/dev/sg0: an ATA disk"}; }
  std::string UsbRouteNeeds() override { return "usbfs access."; }
  std::string DiskRouteNeeds() override { return "sg access."; }

 private:
  static std::string Node(const std::array<std::optional<fakes::Slot>, 9>& slots,
                          const char* name) {
    const std::optional<fakes::Slot>& slot = slots[std::string(name).back() - '0'];
    return slot ? slot->node : "";
  }
};

TEST(ProbeVerdicts, WhyEachNameIsOrIsNotTheRecorder) {
  MadeUpMachine machine;
  auto& usbSlots = machine.host.usbSlots;
  auto& driveSlots = machine.host.driveSlots;
  usbSlots[0] = fakes::Slot{.node = "/dev/bus/usb/001/002", .denied = true};
  usbSlots[1] = fakes::Slot{
      .node = "/dev/bus/usb/001/003", .denied = true, .vendorId = 0x0403, .productId = 0x6001};
  usbSlots[2] = fakes::Slot{.node = "/dev/bus/usb/001/004", .descriptorFails = true};
  usbSlots[3] = fakes::Slot{.node = "/dev/bus/usb/001/005", .productId = 0x4513};
  driveSlots[0] = fakes::Slot{.node = "/dev/sg1", .denied = true};
  driveSlots[1] = fakes::Slot{.node = "/dev/sg2"};
  driveSlots[1]->inquiry[35] ^= 0x01;
  driveSlots[2] = fakes::Slot{.node = "/dev/sg3", .inquiryStatus = 2};
  driveSlots[3] = fakes::Slot{.node = "/dev/sg4"};
  const std::vector<Finding> usb = ProbeUsbNames(machine);
  const std::vector<Finding> drives = ProbeDrives(machine);
  EXPECT_TRUE(machine.host.commands.empty()) << "the probe sent more than descriptor requests "
                                                "and INQUIRY";
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
