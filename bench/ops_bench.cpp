// omr72-bench-ops: host cost per operation (Google Benchmark) and page throughput beside a
// plain memcpy of the same bytes. Devices are emulated without latency, so what is timed is the
// host's own work; the native Linux scans run on a fake sysfs and on this machine's USB.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_host.h"
#include "platform/linux/pass_through.h"
#include "platform/linux/usb_driver.h"
#include "scsilink/q71.h"
#include "scsilink/scsi_link.h"
#include "scsilink/service_commands.h"
#include "usblink/usb_link.h"
#include "wire/recorder_wire.h"

namespace omr72::bench {
namespace {

namespace fs = std::filesystem;

emu::RecorderConfig OnRoute(emu::StartRoute route) {
  emu::RecorderConfig config;
  config.route = route;
  return config;
}

// Flash-parameter read: one service command with a 40-byte data-in stage.
void BM_ScsiLinkExecute(benchmark::State& state) {
  emu::EmulatedHost host(OnRoute(emu::StartRoute::kDisk), emu::KnownImages{});
  host.SetTraceSink([](const std::string&) {});
  ScsiLink link(host.scsi());
  if (!link.IsConnected()) state.SkipWithError("no recorder");
  for (auto _ : state) benchmark::DoNotOptimize(ScsiGetFlashParams(link));
}
BENCHMARK(BM_ScsiLinkExecute);

void BM_ScsiPresenceScanEmulated(benchmark::State& state) {
  emu::EmulatedHost host(OnRoute(emu::StartRoute::kDisk), emu::KnownImages{});
  ScsiLink link(host.scsi());
  for (auto _ : state) benchmark::DoNotOptimize(link.IsConnected());
}
BENCHMARK(BM_ScsiPresenceScanEmulated);

void BM_UsbPresenceScanEmulated(benchmark::State& state) {
  emu::EmulatedHost host(OnRoute(emu::StartRoute::kUsb), emu::KnownImages{});
  UsbLink link(host.usb());
  link.SetDeviceIds(wire::kRecorderVendorId, wire::kRecorderProductId);
  for (auto _ : state) benchmark::DoNotOptimize(link.IsConnected());
}
BENCHMARK(BM_UsbPresenceScanEmulated);

// The boot-loader version request: a vendor request with a 2-byte data-in stage.
void BM_UsbLinkVendorRequest(benchmark::State& state) {
  emu::EmulatedHost host(OnRoute(emu::StartRoute::kUsb), emu::KnownImages{});
  UsbLink link(host.usb());
  link.SetDeviceIds(wire::kRecorderVendorId, wire::kRecorderProductId);
  std::array<uint8_t, 2> version{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        link.VendorRequest(wire::kUsbReqGetBootLoaderVersion, 0, 0, DataStage::In(version)));
  }
}
BENCHMARK(BM_UsbLinkVendorRequest);

// A fake sysfs with USB disks and other disks, no device nodes: every scan finds nothing to
// open, as on a machine waiting for the recorder.
class FakeSysfs {
 public:
  FakeSysfs() {
    root_ = fs::temp_directory_path() / ("omr72-bench-ops-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "dev");
    fs::create_directories(sys() / "bus" / "drivers" / "usb-storage");
    for (int k = 0; k < 6; ++k) {
      const bool usb = k % 2 == 1;
      const fs::path dir = sys() / "devices" / "pci0" / (usb ? "usb1" : "ata") / std::to_string(k) /
                           "host" / "target" / "lun";
      fs::create_directories(dir);
      if (usb) {
        fs::create_directory_symlink(sys() / "bus" / "drivers" / "usb-storage",
                                     dir.parent_path().parent_path() / "driver");
      }
      const fs::path entry = sys() / "class" / "scsi_generic" / ("sg" + std::to_string(k));
      fs::create_directories(entry);
      fs::create_directory_symlink(dir, entry / "device");
    }
  }
  ~FakeSysfs() { fs::remove_all(root_); }
  fs::path sys() const { return root_ / "sys"; }
  fs::path dev() const { return root_ / "dev"; }

 private:
  fs::path root_;
};

void ScanDrives(ScsiPassThrough& scsi) {
  char name[] = R"(\\.\PHYSICALDRIVE0)";
  for (char digit = '0'; digit < '9'; ++digit) {
    name[sizeof name - 2] = digit;
    benchmark::DoNotOptimize(scsi.Open(name));
  }
}

// One presence scan (drives 0 to 8) of the Linux pass-through while nothing changes.
void BM_LinuxSgPresenceScan(benchmark::State& state) {
  FakeSysfs sysfs;
  LinuxSgPassThrough scsi(sysfs.sys(), sysfs.dev());
  for (auto _ : state) ScanDrives(scsi);
}
BENCHMARK(BM_LinuxSgPresenceScan);

// What each scan cost before it could skip an unchanged sysfs: the walk, nine times.
void BM_LinuxSgSysfsWalkTimesNine(benchmark::State& state) {
  FakeSysfs sysfs;
  for (auto _ : state) {
    for (int i = 0; i < 9; ++i) benchmark::DoNotOptimize(UsbScsiGenericDevices(sysfs.sys()));
  }
}
BENCHMARK(BM_LinuxSgSysfsWalkTimesNine);

// One presence scan of the USB link over libusb on this machine's own USB devices.
void BM_LinuxUsbPresenceScan(benchmark::State& state) {
  LinuxUsbDriver driver;
  UsbLink link(driver);
  link.SetDeviceIds(wire::kRecorderVendorId, wire::kRecorderProductId);
  for (auto _ : state) benchmark::DoNotOptimize(link.IsConnected());
}
BENCHMARK(BM_LinuxUsbPresenceScan);

// --- Page throughput ---------------------------------------------------------------------------

constexpr size_t kPageBytes = 64u << 20;  // 64 MiB

// The page-access exports over the emulated recorder, loaded the way other programs load them.
struct EmulatedExports {
  EmulatedExports() {
    handle = dlopen(OMR72_EMULATED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    isConnected = reinterpret_cast<Q71_IsConnectedFn>(dlsym(handle, "Q71_IsConnected"));
    getFlashParams = reinterpret_cast<Q71_GetFlashParamsFn>(dlsym(handle, "Q71_GetFlashParams"));
    readPages = reinterpret_cast<Q71_ReadPagesFn>(dlsym(handle, "Q71_ReadPages"));
    writePages = reinterpret_cast<Q71_WritePagesFn>(dlsym(handle, "Q71_WritePages"));
  }
  bool Ready() {
    uint8_t params[Q71_FLASH_PARAMS_SIZE];
    if (!isConnected || !getFlashParams || !readPages || !writePages) return false;
    if (!isConnected() || !getFlashParams(params)) return false;
    uint16_t size = 0;
    std::memcpy(&size, params + 14, sizeof size);
    pageSize = size;
    return pageSize != 0;
  }
  void* handle = nullptr;
  Q71_IsConnectedFn isConnected = nullptr;
  Q71_GetFlashParamsFn getFlashParams = nullptr;
  Q71_ReadPagesFn readPages = nullptr;
  Q71_WritePagesFn writePages = nullptr;
  uint32_t pageSize = 0;
};

void BM_Q71ReadPages64MiB(benchmark::State& state) {
  static EmulatedExports exports;
  if (!exports.Ready()) {
    state.SkipWithError("the emulated page-access library did not load");
    return;
  }
  std::vector<uint8_t> buffer(kPageBytes);
  const uint32_t pages = static_cast<uint32_t>(kPageBytes / exports.pageSize);
  // Written pages first, so that every page read is copied from the recorder's store rather
  // than filled as a blank one.
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  if (!exports.writePages(0, buffer.data(), pages)) state.SkipWithError("Q71_WritePages failed");
  for (auto _ : state) {
    if (!exports.readPages(0, buffer.data(), pages)) state.SkipWithError("Q71_ReadPages failed");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPageBytes);
}
BENCHMARK(BM_Q71ReadPages64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Memcpy64MiB(benchmark::State& state) {
  std::vector<uint8_t> from(kPageBytes, 0xA5), to(kPageBytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kPageBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPageBytes);
}
BENCHMARK(BM_Memcpy64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace omr72::bench

BENCHMARK_MAIN();
