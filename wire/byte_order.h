// Byte spans and the one set of byte-order helpers. Data coming in is a ByteSpan, data going
// out a ConstByteSpan. Loads and stores read or write the bytes at `at` by value, so they are
// correct whatever the byte order of the machine; the caller keeps `at` inside the span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace omr72 {

using ByteSpan = std::span<uint8_t>;
using ConstByteSpan = std::span<const uint8_t>;

constexpr uint16_t LoadLe16(ConstByteSpan b, size_t at = 0) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

constexpr uint32_t LoadLe32(ConstByteSpan b, size_t at = 0) {
  return uint32_t{LoadLe16(b, at)} | (uint32_t{LoadLe16(b, at + 2)} << 16);
}

constexpr uint16_t LoadBe16(ConstByteSpan b, size_t at = 0) {
  return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}

constexpr uint32_t LoadBe32(ConstByteSpan b, size_t at = 0) {
  return (uint32_t{LoadBe16(b, at)} << 16) | LoadBe16(b, at + 2);
}

constexpr void StoreLe16(ByteSpan b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

constexpr void StoreLe32(ByteSpan b, size_t at, uint32_t v) {
  StoreLe16(b, at, static_cast<uint16_t>(v));
  StoreLe16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

constexpr void StoreBe16(ByteSpan b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

constexpr void StoreBe32(ByteSpan b, size_t at, uint32_t v) {
  StoreBe16(b, at, static_cast<uint16_t>(v >> 16));
  StoreBe16(b, at + 2, static_cast<uint16_t>(v));
}

}  // namespace omr72
