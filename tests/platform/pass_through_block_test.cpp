#include "platform/pass_through_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/win32/pass_through_block64.h"

namespace omr72 {
namespace {

struct Span {
  size_t offset;
  std::vector<uint8_t> bytes;
};

// A zeroed block with the given bytes in place: everything not listed must be 0.
template <size_t N>
std::array<uint8_t, N> Expected(const std::vector<Span>& spans) {
  std::array<uint8_t, N> block{};
  for (const Span& s : spans) {
    for (size_t i = 0; i < s.bytes.size(); ++i) block[s.offset + i] = s.bytes[i];
  }
  return block;
}

ScsiRequest Inquiry() {
  ScsiRequest r;
  r.dataIn = kDataIn;
  r.cdb = {0x12};
  r.length = 2048;
  r.timeoutSeconds = 2;
  return r;
}

ScsiRequest ServiceOut() {
  ScsiRequest r;
  r.dataIn = kDataOut;
  for (uint8_t i = 0; i < 16; ++i) r.cdb[i] = static_cast<uint8_t>(0xC8 + i);
  r.length = 0x00012345;
  r.timeoutSeconds = 0x0A0B0C0D;
  return r;
}

const std::vector<uint8_t> kServiceCdb = {0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
                                          0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7};

TEST(PassThroughBlock, ThirtyTwoBitLayoutByteByByte) {
  struct Case {
    const char* name;
    ScsiRequest request;
    uint32_t buffer;
    PassThroughBlock expected;
  };
  const Case cases[] = {
      {"inquiry in", Inquiry(), 0x12345678,
       Expected<80>({{0, {44, 0}},
                     {4, {1}},
                     {6, {16, 24, 1}},
                     {12, {0x00, 0x08, 0, 0}},
                     {16, {2, 0, 0, 0}},
                     {20, {0x78, 0x56, 0x34, 0x12}},
                     {24, {48, 0, 0, 0}},
                     {28, {0x12}}})},
      {"service out, no buffer", ServiceOut(), 0,
       Expected<80>({{0, {44, 0}},
                     {4, {1}},
                     {6, {16, 24, 0}},
                     {12, {0x45, 0x23, 0x01, 0x00}},
                     {16, {0x0D, 0x0C, 0x0B, 0x0A}},
                     {24, {48, 0, 0, 0}},
                     {28, kServiceCdb}})},
  };
  for (const Case& c : cases) {
    PassThroughBlock block = BuildPassThroughBlock(c.request, c.buffer);
    for (size_t i = 0; i < block.size(); ++i) {
      EXPECT_EQ(block[i], c.expected[i]) << c.name << ", byte " << i;
    }
  }
}

TEST(PassThroughBlock, SixtyFourBitLayoutByteByByte) {
  struct Case {
    const char* name;
    ScsiRequest request;
    uint64_t buffer;
    PassThroughBlock64 expected;
  };
  const Case cases[] = {
      {"inquiry in", Inquiry(), 0x1122334455667788,
       Expected<88>({{0, {56, 0}},
                     {4, {1}},
                     {6, {16, 24, 1}},
                     {12, {0x00, 0x08, 0, 0}},
                     {16, {2, 0, 0, 0}},
                     {24, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
                     {32, {56, 0, 0, 0}},
                     {36, {0x12}}})},
      {"service out, no buffer", ServiceOut(), 0,
       Expected<88>({{0, {56, 0}},
                     {4, {1}},
                     {6, {16, 24, 0}},
                     {12, {0x45, 0x23, 0x01, 0x00}},
                     {16, {0x0D, 0x0C, 0x0B, 0x0A}},
                     {32, {56, 0, 0, 0}},
                     {36, kServiceCdb}})},
  };
  for (const Case& c : cases) {
    PassThroughBlock64 block = BuildPassThroughBlock64(c.request, c.buffer);
    for (size_t i = 0; i < block.size(); ++i) {
      EXPECT_EQ(block[i], c.expected[i]) << c.name << ", byte " << i;
    }
  }
}

}  // namespace
}  // namespace omr72
