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
std::array<uint8_t, N> Expected(const std::vector<Span>& shared, const std::vector<Span>& own) {
  std::array<uint8_t, N> block{};
  for (const auto* spans : {&shared, &own}) {
    for (const Span& s : *spans)
      std::copy(s.bytes.begin(), s.bytes.end(), block.begin() + s.offset);
  }
  return block;
}

TEST(PassThroughBlock, BothLayoutsByteByByte) {
  std::vector<uint8_t> reply(2048);
  ScsiRequest inquiry;
  inquiry.data = DataStage::In(reply);
  inquiry.cdb = {0x12};
  inquiry.timeoutSeconds = 2;
  const std::vector<uint8_t> sent(0x00012345);
  ScsiRequest serviceOut;
  serviceOut.data = DataStage::Out(sent);
  std::vector<uint8_t> serviceCdb;
  for (uint8_t i = 0; i < 16; ++i) serviceCdb.push_back(serviceOut.cdb[i] = 0xC8 + i);
  serviceOut.timeoutSeconds = 0x0A0B0C0D;

  // Target id, CDB and sense lengths, direction, transfer length and time-out: the same
  // offsets in both layouts.
  const std::vector<Span> inquiryHead = {
      {4, {1}}, {6, {16, 24, 1}}, {12, {0x00, 0x08, 0, 0}}, {16, {2, 0, 0, 0}}};
  const std::vector<Span> serviceHead = {
      {4, {1}}, {6, {16, 24, 0}}, {12, {0x45, 0x23, 0x01, 0x00}}, {16, {0x0D, 0x0C, 0x0B, 0x0A}}};

  EXPECT_EQ(BuildPassThroughBlock(inquiry, 0x12345678),
            Expected<80>(
                inquiryHead,
                {{0, {44, 0}}, {20, {0x78, 0x56, 0x34, 0x12}}, {24, {48, 0, 0, 0}}, {28, {0x12}}}));
  EXPECT_EQ(BuildPassThroughBlock(serviceOut, 0),
            Expected<80>(serviceHead, {{0, {44, 0}}, {24, {48, 0, 0, 0}}, {28, serviceCdb}}));
  EXPECT_EQ(BuildPassThroughBlock64(inquiry, 0x1122334455667788),
            Expected<88>(inquiryHead, {{0, {56, 0}},
                                       {24, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
                                       {32, {56, 0, 0, 0}},
                                       {36, {0x12}}}));
  EXPECT_EQ(BuildPassThroughBlock64(serviceOut, 0),
            Expected<88>(serviceHead, {{0, {56, 0}}, {32, {56, 0, 0, 0}}, {36, serviceCdb}}));
}

}  // namespace
}  // namespace omr72
