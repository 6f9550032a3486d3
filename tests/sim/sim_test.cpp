// The command line of omr72-sim and omr72-recorder, and the --state file kept current.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/recorder.h"
#include "scsilink/scsi_link.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/sim_output.h"

namespace omr72::sim {
namespace {

std::optional<std::string> Parse(std::vector<std::string> arguments, SimOptions& options) {
  std::vector<const char*> argv = {"omr72-sim"};
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  return ParseSimOptions(static_cast<int>(argv.size()), argv.data(), options);
}

// Faults that cannot act where the recorder is are refused, not silently ignored.
TEST(SimOptionsTest, RouteOnlyFaultsNeedTheirRoute) {
  const struct {
    std::vector<std::string> arguments;
    bool accepted;
  } rows[] = {
      {{"--verdict", "0"}, false},
      {{"--route", "usb", "--verdict", "0"}, false},  // boot loader 1.0: flash pages
      {{"--route", "usb", "--boot-loader", "0.5", "--verdict", "0"}, true},
      {{"--route", "both", "--boot-loader", "0.5", "--verdict", "fail"}, true},
      {{"--route", "usb", "--boot-loader", "0.0", "--verdict", "1"}, false},  // no boot loader
      {{"--route", "usb", "--boot-loader", "0.5", "--boot-loader-silent", "--verdict", "0"},
       false},  // counts as 1.0 or none
      {{"--route", "disk", "--boot-loader", "0.5", "--corrupt-readback"}, false},
      {{"--route", "usb", "--boot-loader", "0.9", "--corrupt-readback"}, true},
      {{"--route", "none", "--attach-after", "3"}, false},
      {{"--route", "none", "--attach-after", "0"}, false},
      {{"--route", "usb", "--attach-after", "3"}, true},
      {{"--route", "none"}, true},
      {{"--replug-after", "2"}, false},  // nothing to re-plug after
      {{"--unplug-at", "5", "--replug-after", "0"}, true},
      {{"--unplug-at", "0"}, false},  // commands count from 1
      {{"--reply-fuzz", "18446744073709551615"}, true},
      {{"--reply-fuzz", "-1"}, false},
  };
  for (const auto& row : rows) {
    std::string line;
    for (const std::string& a : row.arguments) line += a + " ";
    SCOPED_TRACE(line);
    SimOptions options;
    const std::optional<std::string> error = Parse(row.arguments, options);
    EXPECT_EQ(!error, row.accepted) << error.value_or("");
    EXPECT_EQ(error.value_or("").find('\n'), std::string::npos);
  }
  const std::string usage = kSimUsage;
  EXPECT_NE(usage.find("NAND route only"), std::string::npos);
  EXPECT_NE(usage.find("not with --route none"), std::string::npos);
  EXPECT_NE(usage.find(kSimModelOptionsHelp), std::string::npos);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A re-plug and a return inside a wait write no trace line; the state file follows them all
// the same, so a run ended from outside leaves where the recorder got to.
TEST(SimOutputTest, StateFileFollowsRestartsAndReturns) {
  const std::filesystem::path state =
      std::filesystem::temp_directory_path() /
      ("omr72-sim-state-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  SimOptions options;
  ASSERT_FALSE(Parse({"--route", "usb", "--state", state.string()}, options));
  emu::EmulatedHost host(options.recorder, emu::KnownImages{});
  SimOutput output(options);
  ASSERT_FALSE(output.Open());
  output.Attach(host);
  EXPECT_NE(ReadFile(state).find("\"route\":\"usb\","), std::string::npos);

  ScsiLink scsi(host.scsi());
  for (int poll = 0; poll < emu::kReplugPolls; ++poll) EXPECT_FALSE(scsi.IsConnected());
  ASSERT_EQ(host.recorder().restarts(), 1);
  std::string json = ReadFile(state);
  EXPECT_NE(json.find("\"route\":\"away\","), std::string::npos) << json;
  EXPECT_NE(json.find("\"restarts\":1,"), std::string::npos) << json;

  bool back = false;
  for (int poll = 0; poll <= emu::kRestartPolls && !back; ++poll) back = scsi.IsConnected();
  ASSERT_TRUE(back);
  json = ReadFile(state);
  EXPECT_NE(json.find("\"route\":\"disk\","), std::string::npos) << json;
  EXPECT_TRUE(host.trace().empty());
  EXPECT_FALSE(output.Finish(host));
  std::filesystem::remove(state);
}

}  // namespace
}  // namespace omr72::sim
