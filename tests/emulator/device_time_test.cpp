// The modelled device time: what a real recorder would have spent on the requests that reached
// it and on the restarts it came back from; never the host's own pauses.
#include <array>

#include "emulator/timing.h"
#include "emulator_fixture.h"

namespace omr72::emu {
namespace {

class DeviceTimeTest : public EmulatorTest {
 protected:
  // A boot-loader version request, a page erase and a chunk write, then a pause of the host's.
  void SpendSomeTime() {
    ASSERT_NE(UsbGetBootLoaderVersion(usb()), 0);
    std::array<uint8_t, 2> reply{};
    ASSERT_TRUE(UsbEraseFlashPage(usb(), 0x2A00, reply));
    const std::array<uint8_t, wire::kMcuChunkSize> chunk{};
    ASSERT_TRUE(UsbWriteFlashChunk(usb(), 0x2A00, McuChunk(chunk)));
    host().sleeper().SleepMs(3);
  }
};

TEST_F(DeviceTimeTest, RequestsCountByTheirCostAndHostPausesNotAtAll) {
  RecorderConfig config = Config(StartRoute::kUsb);
  config.realisticLatency = true;
  Start(config);
  SpendSomeTime();
  EXPECT_EQ(host().ModelledDeviceMs(), kCommandMs + kEraseMs + kChunkMs);
}

TEST_F(DeviceTimeTest, NothingWithoutLatency) {
  Start(Config(StartRoute::kUsb));
  SpendSomeTime();
  ASSERT_TRUE(UsbRestart(usb()));
  ASSERT_TRUE(BackWithin(10)) << "the firmware starts, as a disk";
  EXPECT_EQ(host().ModelledDeviceMs(), 0u);
}

TEST_F(DeviceTimeTest, ARestartCountsOnceTheRecorderIsBack) {
  RecorderConfig config = Config(StartRoute::kUsb);
  config.realisticLatency = true;
  Start(config);
  ASSERT_TRUE(UsbRestart(usb()));
  const uint64_t restartRequest = kCommandMs;
  EXPECT_EQ(host().ModelledDeviceMs(), restartRequest) << "still restarting";
  // Back as a disk after the restart time; the bound only keeps a broken model from hanging.
  for (int i = 0; i < 10000 && !scsi().IsConnected(); ++i) host().sleeper().SleepMs(1);
  ASSERT_EQ(recorder().face(), Face::kDisk);
  EXPECT_EQ(host().ModelledDeviceMs(),
            restartRequest + static_cast<uint64_t>(kRealisticRestart.count()));
}

}  // namespace
}  // namespace omr72::emu
