// Windows, in-process: an open that Windows refuses with ERROR_ACCESS_DENIED, as it refuses a
// physical drive to a program that is not elevated, reaches the updater from both backends and
// becomes the one line that tells the owner to run the program as administrator. Wine runs
// every program elevated, so the refusal comes from a folder's name, which CreateFileA refuses
// the same way (no backup semantics asked for).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/native.h"
#include "updater/access_hint.h"

namespace omr72 {
namespace {

TEST(Win32AccessDenial, BothBackendsReportTheRefusedNameAndNothingElse) {
  char folder[MAX_PATH] = {};
  ASSERT_NE(GetWindowsDirectoryA(folder, MAX_PATH), 0u);
  const std::vector<AccessDenial> refused{{.node = folder, .processPrivilege = true}};
  std::unique_ptr<ScsiPassThrough> scsi = NativePlatform::MakePassThrough();
  std::unique_ptr<UsbDriver> usb = NativePlatform::MakeUsbDriver();

  // A name that is not there is no denial.
  EXPECT_EQ(scsi->Open("\\\\.\\PHYSICALDRIVE97"), nullptr);
  EXPECT_EQ(usb->Open("\\\\.\\ezusb-97"), nullptr);
  EXPECT_TRUE(scsi->TakeAccessDenials().empty());
  EXPECT_TRUE(usb->TakeAccessDenials().empty());

  EXPECT_EQ(scsi->Open(folder), nullptr);
  EXPECT_EQ(scsi->Open(folder), nullptr);  // noted once
  EXPECT_EQ(usb->Open(folder), nullptr);
  EXPECT_EQ(scsi->TakeAccessDenials(), refused);
  EXPECT_EQ(usb->TakeAccessDenials(), refused);
  EXPECT_TRUE(scsi->TakeAccessDenials().empty());

  const std::optional<std::string> text = AccessHintText(refused);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find(folder), std::string::npos) << *text;
  EXPECT_NE(text->find("\"Run as administrator\""), std::string::npos) << *text;
  EXPECT_EQ(std::count(text->begin(), text->end(), '\n'), 1) << *text;
  EXPECT_EQ(text->back(), '\n');
}

}  // namespace
}  // namespace omr72
