#include <gtest/gtest.h>

#include "platform/native.h"

namespace omr72 {
namespace {

// Without the driver or a drive behind a name, opening must report "no handle" rather than
// hand out an object for INVALID_HANDLE_VALUE.
TEST(Win32Devices, AbsentDeviceObjectsOpenNothing) {
  EXPECT_EQ(NativePlatform::MakeUsbDriver()->Open(R"(\\.\ezusb-0)"), nullptr);
  EXPECT_EQ(NativePlatform::MakeUsbDriver()->Open(R"(\\.\ezusb-8)"), nullptr);
  EXPECT_EQ(NativePlatform::MakePassThrough()->Open(R"(\\.\PHYSICALDRIVEx)"), nullptr);
}

}  // namespace
}  // namespace omr72
