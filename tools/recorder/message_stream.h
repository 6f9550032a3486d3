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

// A flag that a signal handler sets: reads give up once it is set (they look at it at least
// every 100 ms), and a write interrupted by the signal gives up instead of going on.
void StopOnFlag(volatile std::sig_atomic_t* flag);

ReadResult ReadMessage(int fd, emu::protocol::Message& message);
// True when `fd` has something to read (or an error to report); false once stopped.
bool WaitReadable(int fd);
bool WriteMessage(int fd, const emu::protocol::Message& message);

}  // namespace omr72::recorder
