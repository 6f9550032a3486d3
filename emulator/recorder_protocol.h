// The message format of omr72-recorder, version 1 (docs/RECORDER_PROTOCOL.md): every message is
// a little-endian u32 length (of type and payload), a u8 type and the payload; all integers in
// payloads are little-endian. A client sends one request and reads exactly one reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace omr72::emu::protocol {

constexpr uint16_t kVersion = 1;
constexpr size_t kLengthBytes = 4;
// Largest length field accepted: a 16-MiB data stage and the request's own fields.
constexpr uint32_t kMaxMessageLength = (16u << 20) + 64;

enum Type : uint8_t {
  kHello = 0x01,
  kStatus = 0x02,
  kUsbOpen = 0x10,
  kUsbDescriptor = 0x11,
  kUsbControl = 0x12,
  kUsbBulkRead = 0x13,
  kUsbBulkWrite = 0x14,
  kDiskOpen = 0x20,
  kScsi = 0x21,
  kClose = 0x30,
  kShutdown = 0x3F,
  kError = 0xFF,
};
constexpr uint8_t kReplyBit = 0x80;  // reply type = request type | 0x80

enum ErrorCode : uint8_t {
  kMalformed = 1,    // payload too short, too long or with a bad field
  kUnknownType = 2,  // no such request
  kBadHandle = 3,    // a handle never issued, already closed, or of the other kind
  kTooLarge = 4,     // length field beyond kMaxMessageLength; the stream cannot be resynchronised
};

constexpr uint8_t kNoSlot = 0xFF;  // STATUS: the recorder is not on that face
constexpr size_t kSetupBytes = 8;
constexpr size_t kCdbBytes = 16;

struct Message {
  uint8_t type = 0;
  std::vector<uint8_t> payload;
};

// The whole message as it travels: length, type, payload.
std::vector<uint8_t> Encode(const Message& message);
// The length field of a message's first four bytes.
uint32_t DecodeLength(const uint8_t* bytes);

class Writer {
 public:
  explicit Writer(uint8_t type) { message_.type = type; }
  Writer& U8(uint8_t v);
  Writer& U16(uint16_t v);
  Writer& U32(uint32_t v);
  Writer& Bytes(const uint8_t* data, size_t length);
  Message Done() { return std::move(message_); }

 private:
  Message message_;
};

// Reads fields in order; once a read runs past the end, every later read fails too.
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& payload) : data_(payload) {}
  bool U8(uint8_t& v);
  bool U16(uint16_t& v);
  bool U32(uint32_t& v);
  // `length` bytes, pointed at in place.
  bool Bytes(size_t length, const uint8_t*& out);
  bool AtEnd() const { return ok_ && position_ == data_.size(); }
  size_t left() const { return ok_ ? data_.size() - position_ : 0; }

 private:
  bool Take(size_t length, const uint8_t*& out);
  const std::vector<uint8_t>& data_;
  size_t position_ = 0;
  bool ok_ = true;
};

Message ErrorReply(ErrorCode code, const std::string& text);

}  // namespace omr72::emu::protocol
