// Whole runs of the updater against the emulated recorder: the exact console transcript for the
// scripted keys, what reached the recorder, and the recorder's state at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/native.h"
#include "tests/updater/run_scenario.h"

namespace omr72::testing {
namespace {

const std::string kBanner = "Orlo Mica R72 Firmware Updater version 1.1\n\n";
const std::string kLoadPrompts =
    "Press 'Y' to load firmware version 2.10 or other key to exit.\n"
    "\r\nWARNING: Loading firmware will erase ALL data on this recorder.\r\n"
    "Press 'L' to confirm load or other key to exit.\n";
const std::string kUpgradeFrom10 =
    "\nIt is necessary to upgrade Boot Loader before firmware loading.\n"
    "Press 'Y' to upgrade Boot Loader 1.0 to version 2.0 or other key to exit.\n";
const std::string kUpgradeFrom05 =
    "\nIt is necessary to upgrade Boot Loader before firmware loading.\n"
    "Press 'Y' to upgrade Boot Loader 0.5 to version 2.0 or other key to exit.\n";
const std::string kFirmwareOk = "Replacing firmware...OK\nPress any key to exit...\n";

std::string Identified(const std::string& bootLoader, const std::string& firmware,
                       const std::string& serial) {
  return "Device is connected.\nCurrent Boot Loader version: " + bootLoader + "\n" +
         (firmware.empty() ? "Current firmware version: unavailable.\n"
                           : "Current firmware version: " + firmware + "\n") +
         "Serial number: " + serial + "\n";
}

struct TraceCount {
  std::string fragment;
  size_t count;
};

struct Scenario {
  std::string name;
  std::vector<std::string> arguments;
  std::string keys;
  std::string output;
  int exitCode;
  std::vector<std::string> state;  // fragments of the state JSON
  std::vector<TraceCount> trace;
};

// Trace fragments of the commands that matter.
const std::string kSerialWrite = "cdb=C80C";
const std::string kFirmwareWrite = "cdb=C80B";
const std::string kUsbChunkWrite = "req=0x21";
const std::string kVerdict = "req=0xC5";
const std::string kScsiRestart = "cdb=C80D";
const std::string kUsbRestart = "req=0x23";

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios = {
      {"disk route, boot loader upgraded page by page",
       {},
       "YLY",
       kBanner + Identified("1.0", "1.5", "ABCDE12345") + kLoadPrompts + kUpgradeFrom10 +
           "Replacing Boot Loader...OK\n" + kFirmwareOk,
       0,
       {"\"route\":\"away\"", "\"bootLoaderVersion\":\"2.0\"", "\"firmwareVersion\":\"2.10\"",
        "\"serial\":\"ABCDEW12345\"", "\"firmwareImageWritten\":true", "\"restarts\":6"},
       {{kFirmwareWrite, 2 * 168},
        {"cdb=C809", 2 + 2 * 21},
        {kScsiRestart, 5},
        {"cdb=C806", 1},
        {kSerialWrite, 1}}},
      {"disk route, boot loader new enough",
       {"--boot-loader", "2.0"},
       "YL",
       kBanner + Identified("2.0", "1.5", "ABCDE12345") + kLoadPrompts + kFirmwareOk,
       0,
       {"\"bootLoaderVersion\":\"2.0\"", "\"firmwareVersion\":\"2.10\"",
        "\"firmwareImageWritten\":true", "\"restarts\":4"},
       {{kFirmwareWrite, 168}, {kScsiRestart, 3}, {kSerialWrite, 1}}},
      {"usb route, boot loader 1.0 upgraded page by page",
       {"--route", "usb"},
       "YLY",
       kBanner + Identified("1.0", "1.5", "ABCDE12345") + kLoadPrompts + kUpgradeFrom10 +
           "Replacing Boot Loader...OK\n" + kFirmwareOk,
       0,
       {"\"bootLoaderVersion\":\"2.0\"", "\"firmwareVersion\":\"2.10\"",
        "\"serial\":\"ABCDEW12345\"", "\"restarts\":6"},
       {{kUsbChunkWrite, 168},
        {"req=0x22", 22},
        {kUsbRestart, 2},
        {kFirmwareWrite, 168},
        {"req=0xC1", 1},
        {"req=0xE1", 0}}},
      {"usb route, boot loader 0.5 rewritten in NAND",
       {"--route", "usb", "--boot-loader", "0.5"},
       "YLY",
       kBanner + Identified("0.5", "1.5", "ABCDE12345") + kLoadPrompts + kUpgradeFrom05 +
           "Replacing Boot Loader...OK\n" + kFirmwareOk,
       0,
       {"\"bootLoaderVersion\":\"2.0\"", "\"firmwareVersion\":\"2.10\"", "\"restarts\":5"},
       {{"req=0xE0", 1 + 63},
        {"req=0xE1", 64},
        {"req=0xD1", 1},
        {kVerdict, 1},
        {kUsbChunkWrite, 0},
        {kUsbRestart, 0},
        {kFirmwareWrite, 168}}},
      {"usb route without upgrade waits for the disk",
       {"--route", "usb", "--boot-loader", "2.0"},
       "YL",
       kBanner + Identified("2.0", "1.5", "ABCDE12345") + kLoadPrompts + kFirmwareOk,
       0,
       {"\"firmwareVersion\":\"2.10\"", "\"firmwareImageWritten\":true", "\"restarts\":4"},
       {{kUsbChunkWrite, 0}, {kFirmwareWrite, 168}, {kSerialWrite, 1}, {kScsiRestart, 2}}},
      {"both routes: the USB route is taken",
       {"--route", "both", "--boot-loader", "2.0"},
       "n",
       kBanner + Identified("2.0", "1.5", "ABCDE12345") +
           "Press 'Y' to load firmware version 2.10 or other key to exit.\n",
       0,
       {},
       {{"req=0xC6", 1}, {"req=0x24", 1}, {"req=0xC1", 1}, {"scsi ", 0}}},
      // The recorder shows both faces; the firmware replacement erases the guard page and
      // restarts it through its disk, where it must come back.
      {"both routes, no upgrade: the disk restart comes back on the disk",
       {"--route", "both", "--boot-loader", "2.0"},
       "YL",
       kBanner + Identified("2.0", "1.5", "ABCDE12345") + kLoadPrompts + kFirmwareOk,
       0,
       {"\"firmwareVersion\":\"2.10\"", "\"firmwareImageWritten\":true", "\"restarts\":4"},
       {{kFirmwareWrite, 168}, {kScsiRestart, 3}, {kUsbRestart, 0}}},
      {"no boot loader",
       {"--boot-loader", "0.0"},
       "",
       kBanner + "Device is connected.\n" +
           "Boot Loader not found. Firmware loading is not possible.\nPress any key to exit.\n",
       0,
       {"\"firmwareImageWritten\":false", "\"restarts\":0"},
       {{"cdb=C808", 1}, {"cdb=C80A", 0}}},
      {"silent boot loader on the disk route",
       {"--boot-loader-silent"},
       "",
       kBanner + "Device is connected.\n" +
           "Boot Loader not found. Firmware loading is not possible.\nPress any key to exit.\n",
       0,
       {},
       {{"cdb=C808", 1}}},
      {"firmware unavailable: serial from flash 0xDE00",
       {"--firmware", "none", "--boot-loader", "2.0", "--serial", "QWERTY42"},
       "YL",
       kBanner + Identified("2.0", "", "QWERTY42") + kLoadPrompts + kFirmwareOk,
       0,
       {"\"serial\":\"QWERTWY42\"", "\"firmwareVersion\":\"2.10\""},
       {{"cdb=C80ADE00", 1}, {kSerialWrite, 1}}},
      {"firmware unavailable on USB: serial from flash 0xDE00",
       {"--route", "usb", "--firmware", "none", "--boot-loader", "2.0"},
       "n",
       kBanner + Identified("2.0", "", "ABCDE12345") +
           "Press 'Y' to load firmware version 2.10 or other key to exit.\n",
       0,
       {},
       {{"req=0x20 value=0xDE00", 1}, {"req=0xC1", 0}}},
      {"load refused",
       {},
       "n",
       kBanner + Identified("1.0", "1.5", "ABCDE12345") +
           "Press 'Y' to load firmware version 2.10 or other key to exit.\n",
       0,
       {"\"firmwareImageWritten\":false", "\"restarts\":0"},
       {{"cdb=C80A29F9", 0}}},
      {"confirmation refused",
       {},
       "YY",
       kBanner + Identified("1.0", "1.5", "ABCDE12345") + kLoadPrompts,
       0,
       {"\"restarts\":0"},
       {{"cdb=C80A29F9", 0}}},
      {"lower-case keys and declining the upgrade",
       {},
       "yln",
       kBanner + Identified("1.0", "1.5", "ABCDE12345") + kLoadPrompts + kUpgradeFrom10,
       0,
       {"\"bootLoaderVersion\":\"1.0\"", "\"restarts\":0"},
       {{"cdb=C80A29F9", 1}, {"cdb=C809", 0}}},
      {"function keys are refusals: cursor key with the 0xE0 prefix at the confirmation",
       {},
       "Y\xE0\x26",  // 0xE0 0x26 is 'L' shifted into the key-code byte, not 'L'
       kBanner + Identified("1.0", "1.5", "ABCDE12345") + kLoadPrompts,
       0,
       {},
       {{"cdb=C80A29F9", 0}}},
      {"model tag refused",
       {"--model-tag", "R72XX"},
       "YL",
       kBanner + Identified("1.0", "1.5", "ABCDE12345") + kLoadPrompts +
           "Firmware version is not compatible with this recorder.\nReplacing firmware failed.\n"
           "Press any key to exit...\n",
       0,
       {"\"restarts\":0"},
       {{"cdb=C80A29F9", 1}, {"cdb=C809", 0}}},
      {"model tag refused over USB",
       {"--route", "usb", "--model-tag", "R72XX"},
       "YL",
       kBanner + Identified("1.0", "1.5", "ABCDE12345") + kLoadPrompts +
           "Firmware version is not compatible with this recorder.\nReplacing firmware failed.\n"
           "Press any key to exit...\n",
       0,
       {},
       {{"req=0x20 value=0x29F9", 1}}},
      {"diag accepts any tag",
       {"--model-tag", "R72XX", "--boot-loader", "2.0", "diag"},
       "YL",
       kBanner + Identified("2.0", "1.5", "ABCDE12345") + kLoadPrompts + kFirmwareOk,
       0,
       {"\"firmwareImageWritten\":true"},
       {}},
      {"tags not starting with R72 are accepted",
       {"--model-tag", "Q99AB", "--boot-loader", "2.0"},
       "YL",
       kBanner + Identified("2.0", "1.5", "ABCDE12345") + kLoadPrompts + kFirmwareOk,
       0,
       {"\"firmwareImageWritten\":true"},
       {}},
      {"NAND verdict 0 fails the upgrade",
       {"--route", "usb", "--boot-loader", "0.5", "--verdict", "0"},
       "YLY",
       kBanner + Identified("0.5", "1.5", "ABCDE12345") + kLoadPrompts + kUpgradeFrom05 +
           "Replacing Boot Loader...Failed\nPress any key to exit.\n",
       0,
       {"\"bootLoaderVersion\":\"0.5\"", "\"firmwareImageWritten\":false"},
       {{kVerdict, 1}, {kFirmwareWrite, 0}}},
      {"NAND verdict request failing counts as accepted",
       {"--route", "usb", "--boot-loader", "0.5", "--verdict", "fail"},
       "YLY",
       kBanner + Identified("0.5", "1.5", "ABCDE12345") + kLoadPrompts + kUpgradeFrom05 +
           "Replacing Boot Loader...OK\n" + kFirmwareOk,
       0,
       {"\"bootLoaderVersion\":\"2.0\"", "\"firmwareImageWritten\":true"},
       {{"req=0xC5 value=0x0000 index=0x0000 len=1 -> fail", 1}}},
      {"NAND read-back differing: no verdict asked",
       {"--route", "usb", "--boot-loader", "0.5", "--corrupt-readback"},
       "YLY",
       kBanner + Identified("0.5", "1.5", "ABCDE12345") + kLoadPrompts + kUpgradeFrom05 +
           "Replacing Boot Loader...Failed\nPress any key to exit.\n",
       0,
       {"\"firmwareImageWritten\":false"},
       {{kVerdict, 0}}},
      // Command 8 is the second chunk write of the boot loader: identification sends the
      // flash-parameter read, the boot-loader version and the device-information read, then
      // come the erase of 0x200 and the restart, and the writer starts with the erase of page 0.
      {"disk boot-loader writer failing",
       {"--fail-command", "8"},
       "YLY",
       kBanner + Identified("1.0", "1.5", "ABCDE12345") + kLoadPrompts + kUpgradeFrom10 +
           "Replacing Boot Loader...Failed\nPress any key to exit.\n",
       0,
       {"\"firmwareImageWritten\":false"},
       {{"-> fail", 1}, {"cdb=C809", 1 + 21}, {"cdb=C80B", 168}, {kScsiRestart, 1}}},
      {"firmware writer failing: no restart, no serial",
       {"--boot-loader", "2.0", "--fail-command", "100"},
       "YL",
       kBanner + Identified("2.0", "1.5", "ABCDE12345") + kLoadPrompts +
           "Replacing firmware...Failed\nPress any key to exit...\n",
       0,
       {"\"firmwareImageWritten\":false", "\"restarts\":1"},
       {{kFirmwareWrite, 168}, {kScsiRestart, 1}, {"cdb=C806", 0}, {kSerialWrite, 0}}},
      {"usb boot-loader writer failing",
       {"--route", "usb", "--fail-command", "20"},
       "YLY",
       kBanner + Identified("1.0", "1.5", "ABCDE12345") + kLoadPrompts + kUpgradeFrom10 +
           "Replacing Boot Loader...Failed\nPress any key to exit.\n",
       0,
       {},
       {{kUsbChunkWrite, 168}, {kUsbRestart, 1}, {"scsi ", 0}}},
      {"serial: same major and marker W, nothing sent",
       {"--boot-loader", "2.0", "--firmware", "2.5", "--serial", "ABCDEW1234"},
       "YL",
       kBanner + Identified("2.0", "2.5", "ABCDEW1234") + kLoadPrompts + kFirmwareOk,
       0,
       {"\"serial\":\"ABCDEW1234\"", "\"restarts\":4"},
       {{kSerialWrite, 0}, {kScsiRestart, 3}}},
      {"serial with terminal control bytes is shown safely",
       {"--boot-loader", "2.0", "--serial", "AB\x1B[2JZ"},
       "n",
       kBanner + Identified("2.0", "1.5", "AB?[2JZ") +
           "Press 'Y' to load firmware version 2.10 or other key to exit.\n",
       0,
       {},
       {}},
      {"no recorder, Esc",
       {"--route", "none"},
       "\x1B",
       kBanner + "Device is not connected.\nConnect device to continue or press Esc to exit.\n",
       0,
       {},
       {{"", 0}}},
      {"no recorder, a function key is discarded and Esc ends the wait",
       {"--route", "none"},
       std::string("\0\x44x\x1B", 4),
       kBanner + "Device is not connected.\nConnect device to continue or press Esc to exit.\n",
       0,
       {},
       {}},
      {"recorder attached while waiting",
       {"--attach-after", "6", "--boot-loader", "2.0"},
       "",
       kBanner + "Device is not connected.\nConnect device to continue or press Esc to exit.\n" +
           Identified("2.0", "1.5", "ABCDE12345") +
           "Press 'Y' to load firmware version 2.10 or other key to exit.\n",
       0,
       {},
       {}},
      {"recorder behind foreign devices",
       {"--drive", "4", "--foreign-disk", "0", "--foreign-disk", "2", "--foreign-usb", "0",
        "--boot-loader", "2.0"},
       "YL",
       kBanner + Identified("2.0", "1.5", "ABCDE12345") + kLoadPrompts + kFirmwareOk,
       0,
       {"\"firmwareImageWritten\":true"},
       {{"scsi drive=0", 0},
        {"scsi drive=2", 0},
        {"scsi drive=4", 3 + 1 + 21 * 9 + 4 + 1},
        {"usb ", 0}}},
  };
  return scenarios;
}

void PrintTo(const Scenario& s, std::ostream* os) {
  *os << s.name;
}

class Transcript : public ::testing::TestWithParam<Scenario> {};

TEST_P(Transcript, MatchesConsoleTraceAndState) {
  const Scenario& s = GetParam();
  const ScenarioResult r = RunScenario(s.arguments, s.keys);
  EXPECT_EQ(r.output, s.output);
  EXPECT_EQ(r.exitCode, s.exitCode);
  for (const std::string& fragment : s.state) {
    EXPECT_NE(r.state.find(fragment), std::string::npos) << fragment << " in " << r.state;
  }
  for (const TraceCount& t : s.trace) {
    if (t.fragment.empty()) {
      EXPECT_EQ(r.trace.size(), t.count) << "trace lines";
      continue;
    }
    EXPECT_EQ(CountTrace(r, t.fragment), t.count) << "trace lines with '" << t.fragment << "'";
  }
}

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) {
  std::string name;
  for (char c : info.param.name) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return std::to_string(info.index) + "_" + name;
}

INSTANTIATE_TEST_SUITE_P(Runs, Transcript, ::testing::ValuesIn(Scenarios()), ScenarioName);

TEST(SecondInstance, PrintsTheTwoMessagesReadsOneKeyAndEndsWithOne) {
  const ScenarioResult r = RunScenario({}, "xyz", LockResult::kAlreadyExists);
  EXPECT_EQ(r.output, kBanner +
                          "Close all other digital recorder applications and try again.\n"
                          "Press any key to exit.\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.keysRead, 1u);
  EXPECT_TRUE(r.trace.empty());
}

TEST(SecondInstance, AFailedLockOtherwiseGoesOn) {
  const ScenarioResult r = RunScenario({"--boot-loader", "2.0"}, "n", LockResult::kFailed);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.output.find("Device is connected.\n"), std::string::npos);
}

// The program's own module with some of its embedded images taken away.
class ModuleWithout : public ProgramModule {
 public:
  explicit ModuleWithout(std::vector<std::string> missing) : missing_(std::move(missing)) {}
  std::string Path(const char* argv0) override { return real_->Path(argv0); }
  bool LoadRcData(const std::string& path, const char* name, uint8_t* out, size_t size) override {
    if (std::find(missing_.begin(), missing_.end(), name) != missing_.end()) return false;
    return real_->LoadRcData(path, name, out, size);
  }

 private:
  std::unique_ptr<ProgramModule> real_ = NativePlatform::MakeProgramModule();
  std::vector<std::string> missing_;
};

TEST(MissingImage, NothingIsWrittenAndTheRunEndsAfterOneKey) {
  struct Case {
    std::vector<std::string> missing;
    std::vector<std::string> arguments;
    std::string keys;
    std::string output;
  };
  const std::vector<Case> cases = {
      {{"FWC"},
       {},
       "YLY",
       kBanner + "Device is connected.\nCurrent Boot Loader version: 1.0\n" +
           "The program's embedded image \"FWC\" is missing or damaged; nothing was written to "
           "the recorder.\nPress any key to exit.\n"},
      {{"BRC20"},
       {},
       "YLY",
       kBanner + Identified("1.0", "1.5", "ABCDE12345") + kLoadPrompts +
           "The program's embedded image \"BRC20\" is missing or damaged; nothing was written to "
           "the recorder.\nPress any key to exit.\n"},
      {{"BRC"},
       {"--route", "usb", "--boot-loader", "0.5"},
       "YLY",
       kBanner + Identified("0.5", "1.5", "ABCDE12345") + kLoadPrompts +
           "The program's embedded image \"BRC\" is missing or damaged; nothing was written to "
           "the recorder.\nPress any key to exit.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.missing[0]);
    ModuleWithout module(c.missing);
    const ScenarioResult r = RunScenario(c.arguments, c.keys, LockResult::kAcquired, &module);
    EXPECT_EQ(r.output, c.output);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.state.find("\"restarts\":0"), std::string::npos) << r.state;
    for (const char* write :
         {"cdb=C809", "cdb=C80B", "cdb=C80D", "req=0x21", "req=0x22", "req=0xD1", "req=0xE1"}) {
      EXPECT_EQ(CountTrace(r, write), 0u) << write;
    }
  }
}

// The restart waits and the writes come in the order the recorder needs them.
TEST(Order, DiskUpgradeErasesRestartsWritesAndRestartsBeforeTheFirmware) {
  const ScenarioResult r = RunScenario({}, "YLY");
  std::vector<std::string> milestones;
  for (size_t i = 0; i < r.trace.size(); ++i) {
    const std::string& line = r.trace[i];
    const bool restartNext =
        i + 1 < r.trace.size() && r.trace[i + 1].find(kScsiRestart) != std::string::npos;
    if (line.find("cdb=C8090200") != std::string::npos && restartNext)
      milestones.push_back("erase 0x200");
    if (line.find(kScsiRestart) != std::string::npos) milestones.push_back("restart");
    if (line.find("cdb=C80B0000") != std::string::npos) milestones.push_back("write page 0");
    if (line.find("cdb=C806") != std::string::npos) milestones.push_back("sub 6");
    if (line.find(kSerialWrite) != std::string::npos) milestones.push_back("serial");
  }
  const std::vector<std::string> expected = {
      "erase 0x200", "restart", "write page 0", "restart",  // boot loader
      "erase 0x200", "restart", "write page 0", "restart", "sub 6", "serial", "restart"};
  EXPECT_EQ(milestones, expected);
}

}  // namespace
}  // namespace omr72::testing
