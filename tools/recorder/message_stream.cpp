#include "tools/recorder/message_stream.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace omr72::recorder {
namespace {

constexpr int kStopCheckMs = 100;
volatile std::sig_atomic_t* stopFlag = nullptr;

bool Stopped() {
  return stopFlag && *stopFlag;
}

// 1 when all `length` bytes arrived, 0 at end of stream before the first byte, -2 when stopped,
// -1 otherwise.
int ReadExactly(int fd, uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    if (!WaitReadable(fd)) return -2;
    const ssize_t n = read(fd, data + done, length - done);
    if (n < 0 && errno == EINTR && Stopped()) return -2;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return done == 0 ? 0 : -1;
    done += static_cast<size_t>(n);
  }
  return 1;
}

}  // namespace

// A signal that arrives just before a blocking read would not interrupt it; waiting in short
// slices closes that gap. False when stopped.
bool WaitReadable(int fd) {
  while (!Stopped()) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, kStopCheckMs);
    if (ready != 0 && !(ready < 0 && errno == EINTR)) return true;
  }
  return false;
}

void StopOnFlag(volatile std::sig_atomic_t* flag) {
  stopFlag = flag;
}

ReadResult ReadMessage(int fd, emu::protocol::Message& message) {
  uint8_t header[emu::protocol::kLengthBytes];
  const int got = ReadExactly(fd, header, sizeof header);
  if (got == 0) return ReadResult::kEnd;
  if (got == -2) return ReadResult::kStopped;
  if (got < 0) return ReadResult::kBroken;
  const uint32_t length = emu::protocol::DecodeLength(header);
  if (length == 0 || length > emu::protocol::kMaxMessageLength) return ReadResult::kTooLarge;
  uint8_t type = 0;
  if (ReadExactly(fd, &type, 1) != 1) return ReadResult::kBroken;
  message.type = type;
  message.payload.resize(length - 1);
  if (length > 1 && ReadExactly(fd, message.payload.data(), length - 1) != 1) {
    return ReadResult::kBroken;
  }
  return ReadResult::kMessage;
}

bool WriteMessage(int fd, const emu::protocol::Message& message) {
  const std::vector<uint8_t> bytes = emu::protocol::Encode(message);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR && !Stopped()) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace omr72::recorder
