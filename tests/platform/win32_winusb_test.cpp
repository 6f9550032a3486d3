// The WinUSB backend against one fake of its function table: which devices it numbers and in
// what order, what each driver request becomes, time-outs, and every bad or missing answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/winusb_driver.h"

namespace omr72 {
namespace {

constexpr GUID kUsbDeviceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// One device as SetupAPI and WinUSB show it.
struct FakeDevice {
  std::string instance;  // "usb#vid_10c4&pid_4512#5&1&0&2"
  std::string service = "WinUSB";
  bool inOurClass = false;  // bound by our INF file: listed under its interface class too
  bool present = true;      // false: gone after the listing
  bool initializeFails = false;
};

struct Transfer {
  std::string call;  // "control", "read", "write", "descriptor"
  UCHAR pipe = 0;
  WINUSB_SETUP_PACKET setup = {};
  std::vector<uint8_t> sent;
  ULONG length = 0;
  bool buffer = false;
};

// The machine behind the table. Handles are indices into `devices`, plus one.
struct FakeHost {
  std::vector<FakeDevice> devices;
  std::vector<WINUSB_PIPE_INFORMATION> pipes = {{UsbdPipeTypeBulk, 0x81, 64, 0},
                                                {UsbdPipeTypeBulk, 0x02, 64, 0},
                                                {UsbdPipeTypeBulk, 0x86, 64, 0}};
  ULONGLONG now = 1000;
  int listings = 0;
  std::vector<GUID> classesAsked;
  std::vector<std::string> opened;
  int handles = 0;  // open file and interface handles, and device lists
  std::map<UCHAR, ULONG> timeouts;
  std::vector<Transfer> transfers;
  bool policyFails = false, transferFails = false, queryPipeFails = false;
  ULONG extraReported = 0;  // reported beyond what was asked: a bad answer
  DWORD detailSize = 0;     // when set, the size the detail query claims
};

FakeHost* host = nullptr;

struct ListHandle {
  GUID asked;
  std::vector<size_t> members;
};

std::string PathOf(const FakeDevice& d, const GUID& asked) {
  const bool ours = std::memcmp(&asked, &kUsbDeviceClass, sizeof asked) != 0;
  return R"(\\?\)" + d.instance +
         (ours ? "#{c924586a-0707-4023-8909-fb221f9fe4e8}"
               : "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
}

HDEVINFO WINAPI GetClassDevs(const GUID* guid, PCSTR, HWND, DWORD flags) {
  EXPECT_EQ(flags, DWORD{DIGCF_PRESENT | DIGCF_DEVICEINTERFACE});
  ++host->listings;
  host->classesAsked.push_back(*guid);
  auto* list = new ListHandle{*guid, {}};
  for (size_t i = 0; i < host->devices.size(); ++i) {
    const bool ours = std::memcmp(guid, &kUsbDeviceClass, sizeof *guid) != 0;
    if (!ours || host->devices[i].inOurClass) list->members.push_back(i);
  }
  ++host->handles;
  return list;
}
BOOL WINAPI DestroyList(HDEVINFO set) {
  delete static_cast<ListHandle*>(set);
  --host->handles;
  return TRUE;
}
BOOL WINAPI EnumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID*, DWORD i,
                           PSP_DEVICE_INTERFACE_DATA data) {
  auto* list = static_cast<ListHandle*>(set);
  if (i >= list->members.size()) return FALSE;
  data->Reserved = list->members[i];
  return TRUE;
}
BOOL WINAPI InterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                            PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                            PSP_DEVINFO_DATA device) {
  const std::string path =
      PathOf(host->devices[data->Reserved], static_cast<ListHandle*>(set)->asked);
  const DWORD needed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1;
  if (detail == nullptr) {
    *required = host->detailSize != 0 ? host->detailSize : needed;
    return FALSE;
  }
  if (size < needed) return FALSE;
  std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
  device->DevInst = static_cast<DWORD>(data->Reserved);
  return TRUE;
}
BOOL WINAPI RegistryProperty(HDEVINFO, PSP_DEVINFO_DATA device, DWORD property, PDWORD,
                             PBYTE buffer, DWORD size, PDWORD) {
  EXPECT_EQ(property, DWORD{SPDRP_SERVICE});
  const std::string& service = host->devices[device->DevInst].service;
  if (service.empty() || service.size() + 1 > size) return FALSE;
  std::memcpy(buffer, service.c_str(), service.size() + 1);
  return TRUE;
}
HANDLE WINAPI CreateFileFake(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                             DWORD flags, HANDLE) {
  EXPECT_EQ(access, DWORD{GENERIC_READ | GENERIC_WRITE});
  EXPECT_TRUE(flags & FILE_FLAG_OVERLAPPED) << "WinUSB needs an overlapped handle";
  for (size_t i = 0; i < host->devices.size(); ++i) {
    const FakeDevice& d = host->devices[i];
    if (!d.present || std::string(path).find(d.instance + "#") == std::string::npos) continue;
    host->opened.push_back(path);
    ++host->handles;
    return reinterpret_cast<HANDLE>(i + 1);
  }
  return INVALID_HANDLE_VALUE;
}
BOOL WINAPI CloseHandleFake(HANDLE) {
  --host->handles;
  return TRUE;
}
BOOL WINAPI Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE usb) {
  if (host->devices[reinterpret_cast<size_t>(file) - 1].initializeFails) return FALSE;
  ++host->handles;
  *usb = file;
  return TRUE;
}
BOOL WINAPI Free(WINUSB_INTERFACE_HANDLE) {
  --host->handles;
  return TRUE;
}
BOOL WINAPI SetPipePolicy(WINUSB_INTERFACE_HANDLE, UCHAR pipe, ULONG policy, ULONG size,
                          PVOID value) {
  EXPECT_EQ(policy, ULONG{PIPE_TRANSFER_TIMEOUT});
  EXPECT_EQ(size, sizeof(ULONG));
  if (host->policyFails) return FALSE;
  host->timeouts[pipe] = *static_cast<ULONG*>(value);
  return TRUE;
}
BOOL Moved(ULONG length, PULONG returned) {
  if (host->transferFails) return FALSE;  // as WinUSB ends a transfer at its time-out
  *returned = length + host->extraReported;
  return TRUE;
}
BOOL WINAPI GetDescriptor(WINUSB_INTERFACE_HANDLE, UCHAR type, UCHAR, USHORT, PUCHAR buffer,
                          ULONG length, PULONG returned) {
  host->transfers.push_back({"descriptor", type, {}, {}, length, buffer != nullptr});
  const uint8_t descriptor[18] = {18, 1, 0, 2, 0xFF, 0, 0, 64, 0xC4, 0x10, 0x12, 0x45};
  std::memcpy(buffer, descriptor, std::min<ULONG>(length, 18));
  return Moved(length, returned);
}
BOOL WINAPI ControlTransfer(WINUSB_INTERFACE_HANDLE, WINUSB_SETUP_PACKET setup, PUCHAR buffer,
                            ULONG length, PULONG returned, LPOVERLAPPED) {
  Transfer t{"control", 0, setup, {}, length, buffer != nullptr};
  if (buffer != nullptr && !(setup.RequestType & 0x80)) t.sent.assign(buffer, buffer + length);
  host->transfers.push_back(t);
  return Moved(length, returned);
}
BOOL WINAPI ReadPipe(WINUSB_INTERFACE_HANDLE, UCHAR pipe, PUCHAR buffer, ULONG length,
                     PULONG returned, LPOVERLAPPED) {
  host->transfers.push_back({"read", pipe, {}, {}, length, buffer != nullptr});
  return Moved(length, returned);
}
BOOL WINAPI WritePipe(WINUSB_INTERFACE_HANDLE, UCHAR pipe, PUCHAR buffer, ULONG length,
                      PULONG returned, LPOVERLAPPED) {
  host->transfers.push_back(
      {"write", pipe, {}, std::vector<uint8_t>(buffer, buffer + length), length, true});
  return Moved(length, returned);
}
BOOL WINAPI QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE, UCHAR, PUSB_INTERFACE_DESCRIPTOR d) {
  d->bNumEndpoints = static_cast<UCHAR>(host->pipes.size());
  return TRUE;
}
BOOL WINAPI QueryPipe(WINUSB_INTERFACE_HANDLE, UCHAR, UCHAR index, PWINUSB_PIPE_INFORMATION info) {
  if (host->queryPipeFails || index >= host->pipes.size()) return FALSE;
  *info = host->pipes[index];
  return TRUE;
}
ULONGLONG WINAPI TickCount() {
  return host->now;
}

WinUsbApi FakeApi() {
  WinUsbApi api;
  api.getClassDevs = GetClassDevs;
  api.enumDeviceInterfaces = EnumInterfaces;
  api.getDeviceInterfaceDetail = InterfaceDetail;
  api.getDeviceRegistryProperty = RegistryProperty;
  api.destroyDeviceInfoList = DestroyList;
  api.initialize = Initialize;
  api.free = Free;
  api.getDescriptor = GetDescriptor;
  api.controlTransfer = ControlTransfer;
  api.readPipe = ReadPipe;
  api.writePipe = WritePipe;
  api.queryInterfaceSettings = QueryInterfaceSettings;
  api.queryPipe = QueryPipe;
  api.setPipePolicy = SetPipePolicy;
  api.createFile = CreateFileFake;
  api.closeHandle = CloseHandleFake;
  api.tickCount = TickCount;
  return api;
}

class WinUsbBackend : public testing::Test {
 protected:
  WinUsbBackend() { host = &fake_; }
  ~WinUsbBackend() override {
    EXPECT_EQ(fake_.handles, 0) << "a handle outlived its request";
    host = nullptr;
  }

  // The one recorder, bound to WinUSB.
  void OneRecorder() { fake_.devices = {{"usb#vid_10c4&pid_4512#5&1&0&2"}}; }

  FakeHost fake_;
  WinUsbApi api_ = FakeApi();
};

TEST_F(WinUsbBackend, NumbersServedWinUsbDevicesInInstanceOrder) {
  fake_.devices = {
      {"usb#vid_10c4&pid_4512#5&2&0&3"},                  // the second recorder
      {"usb#vid_10c4&pid_4513#5&2&0&1"},                  // another product of the vendor
      {"usb#vid_10c4&pid_4512#5&2&0&4", "usbccgp"},       // served, but not bound to WinUSB
      {"USB#VID_10C4&PID_4512#5&2&0&2", "WINUSB", true},  // the first: both classes, once
      {"usb#vid_10c4&pid_4512#5&2&0&5", ""},              // served, no driver at all
      {"usb#vid_10c4&pid_451#5&2&0&0"},                   // no product id in its path
  };
  WinUsbDriver driver(api_);
  const struct {
    const char* path;
    const char* opens;  // instance part of what opens; nullptr for nothing
  } cases[] = {
      {R"(\\.\ezusb-0)", "USB#VID_10C4&PID_4512#5&2&0&2#{c924586a"},
      {R"(\\.\ezusb-1)", "usb#vid_10c4&pid_4512#5&2&0&3#{a5dcbf10"},
      {R"(\\.\ezusb-2)", nullptr},
      {R"(\\.\ezusb-x)", nullptr},
      {R"(\\.\PHYSICALDRIVE0)", nullptr},
  };
  for (const auto& c : cases) {
    fake_.opened.clear();
    const bool opened = driver.Open(c.path) != nullptr;
    EXPECT_EQ(opened, c.opens != nullptr) << c.path;
    if (c.opens != nullptr) {
      ASSERT_EQ(fake_.opened.size(), 1u) << c.path;
      EXPECT_NE(fake_.opened[0].find(c.opens), std::string::npos) << fake_.opened[0];
    }
  }
  // Our INF file's class first, then the class every USB device has.
  ASSERT_EQ(fake_.classesAsked.size(), 2u);
  const std::optional<GUID> ours = ParseGuid(kWinUsbInterfaceGuid);
  ASSERT_TRUE(ours);
  EXPECT_EQ(std::memcmp(&fake_.classesAsked[0], &*ours, sizeof(GUID)), 0);
  EXPECT_EQ(std::memcmp(&fake_.classesAsked[1], &kUsbDeviceClass, sizeof(GUID)), 0);
}

BulkPipeBlock Pipe(uint8_t i) {
  return {i, 0, 0, 0};
}

// Each request as WinUSB receives it, with the time-out set on its pipe first.
TEST_F(WinUsbBackend, EachRequestBecomesItsWinUsbCall) {
  OneRecorder();
  WinUsbDriver driver(api_);
  std::array<uint8_t, 18> descriptor{};
  std::vector<uint8_t> in(7, 0), out = {1, 2, 3};
  uint32_t moved = 0;
  const struct {
    const char* name;
    std::function<bool(UsbDevice&)> request;
    Transfer expected;
  } cases[] = {
      {"descriptor",
       [&](UsbDevice& d) { return d.GetDeviceDescriptor(descriptor); },
       {"descriptor", 1, {}, {}, 18, true}},
      {"vendor in",
       [&](UsbDevice& d) {
         return d.VendorOrClassRequest({1, 2, 0, 0, 0xB3, 0, 0x34, 0x12, 0x78, 0x56},
                                       DataStage::In(in));
       },
       {"control", 0, {0xC0, 0xB3, 0x1234, 0x5678, 7}, {}, 7, true}},
      {"vendor out",
       [&](UsbDevice& d) {
         return d.VendorOrClassRequest({0, 2, 0, 0, 0xB4, 0, 1, 0, 2, 0}, DataStage::Out(out));
       },
       {"control", 0, {0x40, 0xB4, 1, 2, 3}, {1, 2, 3}, 3, true}},
      {"class to interface, no data",
       [&](UsbDevice& d) {
         return d.VendorOrClassRequest({0, 1, 1, 0, 9, 0, 0, 0, 0, 0}, DataStage::Out({}));
       },
       {"control", 0, {0x21, 9, 0, 0, 0}, {}, 0, false}},
      {"bulk read on pipe 2",
       [&](UsbDevice& d) { return d.BulkRead(Pipe(2), in, moved); },
       {"read", 0x86, {}, {}, 7, true}},
      {"bulk write on pipe 1",
       [&](UsbDevice& d) { return d.BulkWrite(Pipe(1), out, moved); },
       {"write", 0x02, {}, {1, 2, 3}, 3, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.transfers.clear();
    fake_.timeouts.clear();
    std::unique_ptr<UsbDevice> device = driver.OpenNth(0);
    ASSERT_TRUE(device);
    EXPECT_EQ(fake_.timeouts[0], 5000u) << "control pipe";
    EXPECT_TRUE(c.request(*device));
    ASSERT_EQ(fake_.transfers.size(), 1u);
    const Transfer& t = fake_.transfers[0];
    EXPECT_EQ(t.call, c.expected.call);
    EXPECT_EQ(t.pipe, c.expected.pipe);
    EXPECT_EQ(t.length, c.expected.length);
    EXPECT_EQ(t.buffer, c.expected.buffer);
    EXPECT_EQ(t.sent, c.expected.sent);
    EXPECT_EQ(std::memcmp(&t.setup, &c.expected.setup, sizeof t.setup), 0);
    if (t.call == "read" || t.call == "write") {
      EXPECT_EQ(fake_.timeouts[t.pipe], 10000u) << "bulk pipe";
      EXPECT_EQ(moved, t.length);
    }
  }
  EXPECT_EQ(descriptor[8], 0xC4);
}

// Every bad or missing answer is a failed request with nothing moved, never a wait or a crash.
TEST_F(WinUsbBackend, FailuresAndTimeOutsFailTheRequest) {
  std::vector<uint8_t> data(8, 0);
  const struct {
    const char* name;
    std::function<void(FakeHost&)> fault;
    bool opens;
    uint8_t pipe;
  } cases[] = {
      {"the transfer times out", [](FakeHost& h) { h.transferFails = true; }, true, 2},
      {"more reported than asked", [](FakeHost& h) { h.extraReported = 1; }, true, 2},
      {"no time-out can be set", [](FakeHost& h) { h.policyFails = true; }, true, 2},
      {"the pipes cannot be read", [](FakeHost& h) { h.queryPipeFails = true; }, true, 2},
      {"pipe 1 points out", [](FakeHost&) {}, true, 1},
      {"no pipe 3", [](FakeHost&) {}, true, 3},
      {"pipe 2 is isochronous", [](FakeHost& h) { h.pipes[2].PipeType = UsbdPipeTypeIsochronous; },
       true, 2},
      {"WinUSB does not take the device", [](FakeHost& h) { h.devices[0].initializeFails = true; },
       false, 2},
      {"an absurd interface path size", [](FakeHost& h) { h.detailSize = 1u << 20; }, false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OneRecorder();
    fake_.pipes[2].PipeType = UsbdPipeTypeBulk;
    fake_.transferFails = fake_.policyFails = fake_.queryPipeFails = false;
    fake_.extraReported = 0;
    fake_.detailSize = 0;
    c.fault(fake_);
    WinUsbDriver driver(api_);
    std::unique_ptr<UsbDevice> device = driver.OpenNth(0);
    ASSERT_EQ(device != nullptr, c.opens);
    if (!device) continue;
    uint32_t moved = 99;
    EXPECT_FALSE(device->BulkRead(Pipe(c.pipe), data, moved));
    EXPECT_EQ(moved, 0u);
  }
  // A system without the libraries, or without one call: nothing opens.
  OneRecorder();
  WinUsbApi partial = api_;
  partial.queryPipe = nullptr;
  EXPECT_EQ(WinUsbDriver(partial).OpenNth(0), nullptr);
  EXPECT_EQ(WinUsbDriver(WinUsbApi{}).OpenNth(0), nullptr);
}

// The connection wait opens every name every millisecond; SetupAPI lists the devices only every
// two seconds, or soon after a listed device has gone.
TEST_F(WinUsbBackend, ListsAgainOnlyWhenDueOrAfterADeviceWent) {
  OneRecorder();
  WinUsbDriver driver(api_);
  for (int pass = 0; pass < 1000; ++pass, ++fake_.now) {
    EXPECT_TRUE(driver.OpenNth(0));
    EXPECT_FALSE(driver.OpenNth(1));
  }
  EXPECT_EQ(fake_.listings, 2) << "one listing, two interface classes";

  fake_.now += WinUsbDriver::kRefreshMs;
  fake_.devices.push_back({"usb#vid_10c4&pid_4512#5&1&0&3"});
  EXPECT_TRUE(driver.OpenNth(1)) << "an arrival is found at the next listing";
  EXPECT_EQ(fake_.listings, 4);

  // Gone between the listing and the open.
  fake_.devices[0].present = false;
  EXPECT_FALSE(driver.OpenNth(0));
  fake_.now += 50;
  EXPECT_FALSE(driver.OpenNth(0));
  EXPECT_EQ(fake_.listings, 4);
  fake_.now += 50;
  fake_.devices.erase(fake_.devices.begin());
  EXPECT_TRUE(driver.OpenNth(0)) << "the remaining device moves up to ezusb-0";
  EXPECT_EQ(fake_.listings, 6);
  EXPECT_FALSE(driver.OpenNth(1));
}

}  // namespace
}  // namespace omr72
