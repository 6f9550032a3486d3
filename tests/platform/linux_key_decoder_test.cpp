#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/console.h"

namespace omr72 {
namespace {

// Feeds `bytes`, then (when `pause`) reports that nothing more came; returns every value.
std::vector<int> Decode(const std::string& bytes, bool pause) {
  TerminalKeyDecoder decoder;
  std::vector<int> keys;
  for (char c : bytes) {
    decoder.Feed(static_cast<uint8_t>(c));
    while (decoder.HasKey()) keys.push_back(decoder.NextKey());
  }
  if (pause) decoder.Pause();
  while (decoder.HasKey()) keys.push_back(decoder.NextKey());
  // Without the pause a trailing Esc is still waiting for what follows it.
  bool open = !pause && !bytes.empty() && bytes.back() == '\x1b';
  EXPECT_EQ(decoder.InSequence(), open) << "after " << ::testing::PrintToString(bytes);
  return keys;
}

// Every key once and each form once; the two runs of function keys in a loop below.
TEST(TerminalKeyDecoder, CursorAndFunctionKeysBecomeZeroAndTheWindowsCode) {
  const struct {
    const char* bytes;
    int code;
  } cases[] = {
      {"\x1b[A", kKeyUp},        {"\x1b[B", kKeyDown},  {"\x1b[C", kKeyRight},
      {"\x1b[D", kKeyLeft},      {"\x1b[H", kKeyHome},  {"\x1b[F", kKeyEnd},
      {"\x1bOA", kKeyUp},        {"\x1bOP", 0x3B},      {"\x1bOQ", 0x3C},
      {"\x1bOR", 0x3D},          {"\x1bOS", 0x3E},      {"\x1b[23~", 0x85},
      {"\x1b[24~", 0x86},        {"\x1b[1~", kKeyHome}, {"\x1b[2~", kKeyInsert},
      {"\x1b[3~", kKeyDelete},   {"\x1b[4~", kKeyEnd},  {"\x1b[5~", kKeyPageUp},
      {"\x1b[6~", kKeyPageDown}, {"\x1b[7~", kKeyHome}, {"\x1b[8~", kKeyEnd},
      {"\x1b[[A", 0x3B},         {"\x1b[[E", 0x3F},     {"\x1b[1;5A", kKeyUp},
      {"\x1b[3;2~", kKeyDelete}, {"\x1b[1;2P", 0x3B},   {"\x1b[24;5~", 0x86},
      {"\x1b[011~", 0x3B},       {"\x1b[ A", kKeyUp},   {"\x1b[?A", kKeyUp},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Decode(c.bytes, false), (std::vector<int>{0, c.code}))
        << ::testing::PrintToString(std::string(c.bytes));
  }
  // F1..F5 are 11..15, F6..F10 are 17..21.
  for (int n = 0; n < 5; ++n) {
    EXPECT_EQ(Decode("\x1b[" + std::to_string(11 + n) + "~", false),
              (std::vector<int>{0, 0x3B + n}));
    EXPECT_EQ(Decode("\x1b[" + std::to_string(17 + n) + "~", false),
              (std::vector<int>{0, 0x40 + n}));
  }
}

TEST(TerminalKeyDecoder, EscCharactersAndOddSequences) {
  const int u = kKeyUnknown;
  const struct {
    const char* name;
    std::string bytes;
    bool pause;
    std::vector<int> keys;
  } cases[] = {
      {"characters as they are", "yYlL\r ", false, {'y', 'Y', 'l', 'L', '\r', ' '}},
      {"lone Esc", "\x1b", true, {27}},
      {"Esc not yet decided", "\x1b", false, {}},
      {"two Escs", "\x1b\x1b", true, {27, 27}},
      {"Esc then a character", "\x1by", false, {27, 'y'}},
      {"Esc then a key", "\x1b\x1b[A", false, {27, 0, kKeyUp}},
      {"two keys back to back", "\x1b[A\x1bOP", false, {0, kKeyUp, 0, 0x3B}},
      {"unknown tilde number", "\x1b[99~", false, {0, u}},
      {"no key between F5 and F6, nor F10 and F11", "\x1b[16~\x1b[22~", false, {0, u, 0, u}},
      {"four digits", "\x1b[0011~", false, {0, u}},
      {"at-sign is a final byte", "\x1b[@", false, {0, u}},
      {"fifteen parameter bytes still fit", "\x1b[111111111111111~", false, {0, u}},
      {"sixteen are too many", "\x1b[1111111111111111~", false, {0, u, '~'}},
      {"unknown final", "\x1b[Z", false, {0, u}},
      {"unknown SS3 key", "\x1bOM", false, {0, u}},
      {"unknown Linux console key", "\x1b[[Z", false, {0, u}},
      {"sequence cut short", "\x1b[1", true, {0, u}},
      {"sequence broken by a new one", "\x1b[\x1b[B", false, {0, u, 0, kKeyDown}},
      {"sequence broken by a control byte", "\x1b[2\r", false, {0, u, '\r'}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Decode(c.bytes, c.pause), c.keys) << c.name;
  }
}

}  // namespace
}  // namespace omr72
