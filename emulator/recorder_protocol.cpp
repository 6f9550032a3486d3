#include "emulator/recorder_protocol.h"

#include <cstring>

namespace omr72::emu::protocol {

std::vector<uint8_t> Encode(const Message& message) {
  const uint32_t length = static_cast<uint32_t>(message.payload.size() + 1);
  std::vector<uint8_t> bytes;
  bytes.reserve(kLengthBytes + length);
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(length >> (8 * i)));
  bytes.push_back(message.type);
  bytes.insert(bytes.end(), message.payload.begin(), message.payload.end());
  return bytes;
}

uint32_t DecodeLength(const uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

Writer& Writer::U8(uint8_t v) {
  message_.payload.push_back(v);
  return *this;
}

Writer& Writer::U16(uint16_t v) {
  return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8));
}

Writer& Writer::U32(uint32_t v) {
  return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16));
}

Writer& Writer::Bytes(const uint8_t* data, size_t length) {
  if (length > 0) message_.payload.insert(message_.payload.end(), data, data + length);
  return *this;
}

bool Reader::Take(size_t length, const uint8_t*& out) {
  if (!ok_ || data_.size() - position_ < length) {
    ok_ = false;
    return false;
  }
  out = data_.data() + position_;
  position_ += length;
  return true;
}

bool Reader::U8(uint8_t& v) {
  const uint8_t* p = nullptr;
  if (!Take(1, p)) return false;
  v = p[0];
  return true;
}

bool Reader::U16(uint16_t& v) {
  const uint8_t* p = nullptr;
  if (!Take(2, p)) return false;
  v = static_cast<uint16_t>(p[0] | (p[1] << 8));
  return true;
}

bool Reader::U32(uint32_t& v) {
  const uint8_t* p = nullptr;
  if (!Take(4, p)) return false;
  v = DecodeLength(p);
  return true;
}

bool Reader::Bytes(size_t length, const uint8_t*& out) {
  return Take(length, out);
}

Message ErrorReply(ErrorCode code, const std::string& text) {
  return Writer(kError)
      .U8(code)
      .Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size())
      .Done();
}

}  // namespace omr72::emu::protocol
