// Whole messages of the recorder protocol over a POSIX file descriptor (a stream socket, a pipe
// or a FIFO).
#pragma once

#include <csignal>

#include "emulator/recorder_protocol.h"

namespace omr72::recorder {

enum class ReadResult {
  kMessage,
  kEnd,       // the peer closed the stream between messages
  kBroken,    // read error, or the stream ended inside a message
  kTooLarge,  // the length field is 0 or beyond the limit; the stream cannot be followed on
  kStopped,   // interrupted by a signal that set the stop flag
};

// A flag that a signal handler sets: a read or write interrupted by a signal then gives up
// instead of going on.
void StopOnFlag(volatile std::sig_atomic_t* flag);

ReadResult ReadMessage(int fd, emu::protocol::Message& message);
bool WriteMessage(int fd, const emu::protocol::Message& message);

}  // namespace omr72::recorder
