// The sweep's rules must be able to fail: each is fed a run that breaks it and one that keeps it.
#include "tests/sweep/sweep_judge.h"

#include <gtest/gtest.h>

namespace omr72::sweep {
namespace {

Event Out(std::string text) {
  return {Event::Kind::kOutput, std::move(text)};
}
Event Cmd(std::string text) {
  return {Event::Kind::kCommand, std::move(text)};
}

// The table's rows themselves are the sweep's to use; here, that an ending counts only whole and
// at the very end.
TEST(SweepJudge, EndingsAreRecognisedOnlyAtTheEnd) {
  const struct {
    std::string output;
    std::optional<std::string> ending;
  } cases[] = {
      {"Replacing firmware...OK\nPress any key to exit...\n", "firmware replaced"},
      {"Replacing Boot Loader...Failed\nPress any key to exit.\n", "boot-loader write failed"},
      {"Press 'Y' to load firmware version 2.10 or other key to exit.\n", "declined at a prompt"},
      // A success line after a failure, a cut-off transcript, a wrong exit prompt.
      {"Replacing Boot Loader...OK\nPress any key to exit.\n", std::nullopt},
      {"Replacing firmware...", std::nullopt},
      {"Replacing firmware...OK\nPress any key to exit.\n", std::nullopt},
      {"Device is connected.\n", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(DocumentedEnding(c.output), c.ending) << c.output;
}

TEST(SweepJudge, RestartWaitsBelongToTheUpgradeAndTheReplacement) {
  EXPECT_TRUE(InRestartWaitStage("x\nReplacing Boot Loader..."));
  EXPECT_TRUE(InRestartWaitStage("x\nReplacing Boot Loader...OK\n"));
  EXPECT_TRUE(InRestartWaitStage("x\nReplacing firmware..."));
  EXPECT_FALSE(InRestartWaitStage("Device is connected.\nCurrent Boot Loader version: 1.0\n"));
  EXPECT_FALSE(InRestartWaitStage("Connect device to continue or press Esc to exit.\n"));
  EXPECT_FALSE(InRestartWaitStage("Replacing firmware...OK\n"));
}

TEST(SweepJudge, TheConnectionWaitAndDeviceBytesOnTheConsole) {
  EXPECT_TRUE(InConnectionWait(
      "Device is not connected.\nConnect device to continue or press Esc to exit.\n"));
  EXPECT_FALSE(InConnectionWait("Replacing firmware..."));
  EXPECT_EQ(UnprintableByte("Serial number: AB?DE\r\nOK\n"), std::nullopt);
  EXPECT_EQ(UnprintableByte("Serial number: AB\x01"
                            "DE\n"),
            0x01);
  EXPECT_EQ(UnprintableByte("Serial number: \xE9\n"), 0xE9);
  EXPECT_EQ(UnprintableByte(std::string("A\0B", 3)), 0x00);
}

// A USB or disk writer run: 21 pages of one erase and eight chunks, command `failAt` failing
// (none when 0), the last `dropped` commands never sent, then the given output.
std::vector<Event> WriterRun(bool usb, size_t failAt, size_t dropped, const std::string& then) {
  std::vector<Event> events = {Out("Replacing Boot Loader..."),
                               Cmd(usb ? "usb dev=ezusb-1 vendor dir=in req=0x22 value=0x0200 -> ok"
                                       : "scsi drive=1 cdb=C8090200 dir=in len=0 -> ok")};
  size_t n = 0;
  for (int page = 0; page < 21; ++page) {
    for (int step = 0; step < 9; ++step) {
      ++n;
      if (n > 189 - dropped) break;
      char address[8];
      std::snprintf(address, sizeof address, "%04X", page * 512 + (step ? (step - 1) * 64 : 0));
      std::string line = usb ? std::string("usb dev=ezusb-1 vendor req=") +
                                   (step ? "0x21" : "0x22") + " value=0x" + address
                             : std::string("scsi drive=1 cdb=C8") + (step ? "0B" : "09") + address;
      events.push_back(Cmd(line + (n == failAt ? " -> fail" : " -> ok")));
    }
  }
  events.push_back(Out(then));
  return events;
}

TEST(SweepJudge, OkAfterAWriterNeedsEveryCommandToHaveSucceeded) {
  const struct {
    bool usb;
    size_t failAt;
    size_t dropped;
    std::string then;
    std::optional<std::string> broken;
  } cases[] = {
      {true, 0, 0, "OK\n", std::nullopt},
      {false, 0, 0, "OK\n", std::nullopt},
      {true, 1, 0, "OK\n", "usb"},
      {false, 100, 0, "OK\n", "disk"},
      {false, 189, 0, "OK\n", "disk"},
      {true, 0, 5, "OK\n", "usb"},  // requests that never reached the recorder
      {true, 37, 0, "Failed\n", std::nullopt},
      {false, 0, 1, "Failed\n", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OkAfterFailedWriter(WriterRun(c.usb, c.failAt, c.dropped, c.then)), c.broken)
        << c.usb << " " << c.failAt << " " << c.dropped;
  }
}

TEST(SweepJudge, ThePreRouteEraseIsNoWriter) {
  // The erase at 512 fails, the procedure goes on and the writer that follows succeeds.
  std::vector<Event> events = WriterRun(false, 0, 0, "OK\n");
  events[1] = Cmd("scsi drive=1 cdb=C8090200 dir=in len=0 -> fail");
  EXPECT_EQ(OkAfterFailedWriter(events), std::nullopt);
}

TEST(SweepJudge, FirstNandReadMustDeliverTheWholeBlock) {
  const std::string setup = "usb dev=ezusb-1 vendor dir=out req=0xE0 value=0x0000 len=19";
  const std::string read = "usb dev=ezusb-1 bulk read pipe=2 len=135168 moved=";
  const std::string piece = "usb dev=ezusb-1 bulk read pipe=2 len=16384 moved=";
  std::vector<Event> pieces = {Cmd(setup + " -> ok")};
  for (int i = 0; i < 8; ++i) pieces.push_back(Cmd(piece + "16384 -> ok"));
  pieces.push_back(Cmd("usb dev=ezusb-1 bulk read pipe=2 len=4096 moved=4096 -> ok"));
  std::vector<Event> shortPiece = pieces;
  shortPiece[3] = Cmd(piece + "8192 -> ok");
  std::vector<Event> failedPiece = pieces;
  failedPiece[9] = Cmd("usb dev=ezusb-1 bulk read pipe=2 len=4096 moved=4096 -> fail");
  const struct {
    std::vector<Event> events;
    bool incomplete;
  } cases[] = {
      {{Cmd(setup + " -> ok"), Cmd(read + "135168 -> ok"), Cmd(setup + " -> fail")}, false},
      {{Cmd(setup + " -> fail"), Cmd(read + "135168 -> ok")}, true},
      {pieces, false},
      {shortPiece, true},
      {failedPiece, true},
      {{Cmd(setup + " -> ok"), Cmd(read + "67584 -> ok")}, true},
      {{Cmd(setup + " -> ok"), Cmd(read + "0 -> fail")}, true},
      {{Cmd(setup + " -> ok"), Out("Failed\n")}, true},
      {{Cmd(setup + " -> ok")}, true},
      {{Cmd("usb dev=ezusb-1 vendor req=0x21 -> fail")}, false},  // no rewrite at all
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(FirstNandReadIncomplete(cases[i].events), cases[i].incomplete) << i;
  }
}

}  // namespace
}  // namespace omr72::sweep
