// The updater's own rules that need no recorder: the serial repair, how the serial is shown,
// the diagnostic argument and the key reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "emulator/scripted_console.h"
#include "updater/command_line.h"
#include "updater/updater.h"

namespace omr72 {
namespace {

SerialBuffer Serial(const std::string& text) {
  SerialBuffer serial{};
  std::memcpy(serial.data(), text.data(), text.size());
  return serial;
}

std::string Text(const SerialBuffer& serial) {
  return std::string(reinterpret_cast<const char*>(serial.data()),
                     strnlen(reinterpret_cast<const char*>(serial.data()), serial.size()));
}

TEST(SerialRepair, TheFourCasesAndTheLengths) {
  struct Case {
    std::string serial;
    uint16_t installed;
    uint16_t fresh;
    bool sent;
    std::string after;
  };
  const std::vector<Case> cases = {
      {"ABCDEW1234", 0x0205, 0x020A, false, "ABCDEW1234"},  // same major, marker
      {"ABCDEX1234", 0x0200, 0x020A, false, "ABCDEX1234"},
      {"ABCDE12345", 0x0205, 0x020A, true, "ABCDEW12345"},  // same major, no marker
      {"ABCDEX1234", 0x0105, 0x020A, true, "ABCDEX1234"},   // majors differ, marker
      {"ABCDE12345", 0x0105, 0x020A, true, "ABCDEW12345"},  // majors differ, no marker
      {"ABCDE12345", 0x0000, 0x020A, true, "ABCDEW12345"},  // unavailable counts as major 0
      {"ABCDE123456789012345", 0x0105, 0x020A, true, "ABCDEW123456789012345"},
      {"ABCDE", 0x0105, 0x020A, true, "ABCDEW"},
      {"AB", 0x0105, 0x020A, true, "AB"},
      {"", 0x0105, 0x020A, true, ""},
      {"ABCDw1", 0x0105, 0x020A, true, "ABCDwW1"},  // only capital W and X mark
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial);
    SerialBuffer serial = Serial(c.serial);
    EXPECT_EQ(RepairSerialNumber(serial, c.installed, c.fresh), c.sent);
    EXPECT_EQ(Text(serial), c.after);
    if (c.after.size() < serial.size()) {
      EXPECT_EQ(serial[c.after.size()], 0) << "terminated";
    }
  }
}

TEST(SerialRepair, TwentyOneCharactersFillBytesZeroToTwenty) {
  SerialBuffer serial = Serial("ABCDE123456789012345");
  ASSERT_TRUE(RepairSerialNumber(serial, 0x0105, 0x020A));
  EXPECT_EQ(serial[20], '5');
  EXPECT_EQ(serial[21], 0);
}

TEST(SerialDisplay, ShowsNonPrintableBytesAsQuestionMarks) {
  EXPECT_EQ(PrintableSerial(Serial("ABC 123~")), "ABC 123~");
  EXPECT_EQ(PrintableSerial(Serial("A\x1B[2J\x7F\x80\xFFZ")), "A?[2J???Z");
  EXPECT_EQ(PrintableSerial(Serial("")), "");
}

TEST(DiagnosticArgument, OnlyTheSingleExactWord) {
  struct Case {
    std::vector<const char*> argv;
    bool diagnostic;
  };
  const std::vector<Case> cases = {
      {{"prog", "diag"}, true},       {{"prog"}, false},
      {{"prog", "DIAG"}, false},      {{"prog", "diag "}, false},
      {{"prog", "diag", "x"}, false}, {{"prog", "x", "diag"}, false},
      {{"prog", "dia"}, false},       {{"prog", ""}, false},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    for (const char* a : c.argv) argv.push_back(const_cast<char*>(a));
    EXPECT_EQ(IsDiagnosticArgumentList(static_cast<int>(argv.size()), argv.data()), c.diagnostic)
        << argv.size() << " arguments";
  }
}

// Linux answers --help and --version and refuses unknown options; Windows takes any argument
// it does not know for a normal run. --payloads is the same on both.
TEST(CommandLine, ConventionsOfEachSystem) {
  struct Case {
    std::vector<const char*> argv;
    const char* posix;  // "run", "diag", "help", "version" or "refused"
    const char* windows;
    const char* payloads;
  };
  const std::vector<Case> cases = {
      {{"prog", "--help"}, "help", "run", nullptr},
      {{"prog", "--version"}, "version", "run", nullptr},
      {{"prog", "-x"}, "refused", "run", nullptr},
      {{"prog", "-"}, "refused", "run", nullptr},
      {{"prog", "word"}, "run", "run", nullptr},
      {{"prog", "--payloads", "a b", "diag"}, "diag", "diag", "a b"},
      {{"prog", "--payloads=x.exe"}, "run", "run", "x.exe"},
      {{"prog", "diag", "--payloads", "x"}, "diag", "diag", "x"},
      {{"prog", "--payloads", "x", "diag", "y"}, "run", "run", "x"},
      {{"prog", "--payloads"}, "refused", "refused", nullptr},
      {{"prog", "--payloads="}, "refused", "refused", nullptr},
      {{"prog", "--payloads", "x", "--payloads", "y"}, "refused", "refused", nullptr},
  };
  const auto outcome = [](const CommandLine& line) {
    if (!line.refusal.empty()) return "refused";
    if (line.help) return "help";
    if (line.version) return "version";
    return line.diagnostic ? "diag" : "run";
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    for (const char* a : c.argv) argv.push_back(const_cast<char*>(a));
    const int argc = static_cast<int>(argv.size());
    const CommandLine posix = ParseCommandLine(argc, argv.data(), ArgumentConvention::kPosix);
    const CommandLine windows = ParseCommandLine(argc, argv.data(), ArgumentConvention::kWindows);
    EXPECT_STREQ(outcome(posix), c.posix) << c.argv[1];
    EXPECT_STREQ(outcome(windows), c.windows) << c.argv[1];
    if (std::string(c.posix) != "refused") {
      EXPECT_EQ(posix.payloads.value_or(""), c.payloads ? c.payloads : "") << c.argv[1];
    }
  }
}

TEST(ReadKey, CharactersAsTheyAreKeysWithoutCharacterShifted) {
  struct Case {
    std::string raw;
    uint16_t key;
    size_t consumed;
  };
  const std::vector<Case> cases = {
      {"Y", 'Y', 1},
      {"l", 'l', 1},
      {"\x1B", 27, 1},
      {std::string("\0\x3B", 2), 0x3B00, 2},  // F1
      {std::string("\0\x86", 2), 0x8600, 2},  // F12
      {"\xE0\x48", 0x4800, 2},                // Up with the cursor-key prefix
      {std::string("\0Y", 2), 0x5900, 2},     // a key code equal to 'Y' is not 'Y'
      {"", 0xFFFF, 0},                        // end of input
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    emu::ScriptedConsole console(c.raw);
    Dialogue dialogue(console);
    const uint16_t key = dialogue.ReadKey();
    EXPECT_EQ(key, c.key);
    EXPECT_EQ(console.keysRead(), c.consumed);
    EXPECT_FALSE(c.consumed == 0 && (IsYesKey(key) || IsConfirmKey(key) || key == kKeyEsc));
  }
}

TEST(Dialogue, EndingsPrintTheirTextAndReadOneKey) {
  emu::ScriptedConsole console("abc");
  Dialogue dialogue(console);
  dialogue.ErrorEnding();
  dialogue.FinalEnding();
  EXPECT_EQ(console.output(), "Press any key to exit.\nPress any key to exit...\n");
  EXPECT_EQ(console.keysRead(), 2u);
}

}  // namespace
}  // namespace omr72
