// omr72-winusb.inf as the build made it: it binds exactly the served USB ids to WinUSB, for
// every processor, and gives them the interface class the WinUSB backend looks for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/served_usb_devices.h"

namespace omr72 {
namespace {

// Section name (lower case) to its lines, without blanks around them and without comments.
std::map<std::string, std::vector<std::string>> Sections(const std::string& text) {
  std::map<std::string, std::vector<std::string>> sections;
  std::string current;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    line = line.substr(0, line.find(';'));
    line.erase(line.find_last_not_of(" \t\r") + 1);
    line.erase(0, line.find_first_not_of(" \t"));
    if (line.empty()) continue;
    if (line.front() == '[') {
      current = line.substr(1, line.find(']') - 1);
      std::transform(current.begin(), current.end(), current.begin(), ::tolower);
      continue;
    }
    sections[current].push_back(std::regex_replace(line, std::regex("[ \t]*=[ \t]*"), "="));
  }
  return sections;
}

TEST(WinUsbInf, BindsTheServedIdsToWinUsbWithTheBackendsInterfaceClass) {
  std::ifstream file(OMR72_WINUSB_INF, std::ios::binary);
  ASSERT_TRUE(file) << OMR72_WINUSB_INF;
  const std::string text((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(text.begin(), text.end(), '\r'))
      << "Windows reads INF files with CR LF line ends";
  auto sections = Sections(text);

  std::vector<std::string> served;
  for (const UsbId& id : kServedUsbDevices) {
    char line[64];
    std::snprintf(line, sizeof line, "%%DeviceName%%=WinUsb_Install, USB\\VID_%04X&PID_%04X",
                  id.vendor, id.product);
    served.push_back(line);
  }
  for (const char* models : {"recorder.ntx86", "recorder.ntamd64", "recorder.ntarm64"}) {
    EXPECT_EQ(sections[models], served) << models;
  }
  EXPECT_EQ(sections["winusb_install"],
            (std::vector<std::string>{"Include=winusb.inf", "Needs=WINUSB.NT"}));
  EXPECT_EQ(sections["winusb_install.services"],
            (std::vector<std::string>{"Include=winusb.inf", "Needs=WINUSB.NT.Services"}));
  EXPECT_EQ(sections["winusb_install.hw"], (std::vector<std::string>{"AddReg=WinUsb_AddReg"}));
  EXPECT_EQ(sections["winusb_addreg"],
            (std::vector<std::string>{std::string("HKR,,DeviceInterfaceGUIDs,0x10000,\"") +
                                      kWinUsbInterfaceGuid + "\""}));
}

}  // namespace
}  // namespace omr72
