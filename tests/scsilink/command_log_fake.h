// A strict stand-in for the host's drives: nine slots that are empty, hold the recorder or hold
// a foreign disk. Every command that reaches any drive is logged with the drive it went to; the
// recorder's answers come from a responder that the test sets.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/scsi_pass_through.h"
#include "scsilink/scsi_link.h"

namespace omr72::cmdlog {

struct LoggedCommand {
  char drive = '?';
  Cdb cdb{};
  uint8_t dataIn = 0xFF;
  uint32_t length = 0;
  bool hasBuffer = false;
  const uint8_t* buffer = nullptr;
  std::vector<uint8_t> dataSent;  // the buffer's bytes for data-out commands
};

struct Reply {
  bool completed = true;
  uint8_t status = 0;
  std::vector<uint8_t> data;  // copied into the buffer of a data-in command, at most `length`
};

enum class Slot { kEmpty, kRecorder, kForeign };

class CommandLogPassThrough : public ScsiPassThrough {
 public:
  using Responder = std::function<Reply(const LoggedCommand&, size_t index)>;

  void Place(int digit, Slot slot) { slots_[digit] = slot; }
  void MoveRecorder(int from, int to) {
    slots_[from] = Slot::kEmpty;
    slots_[to] = Slot::kRecorder;
  }
  // Answers the recorder's non-INQUIRY commands; `index` counts them from 0.
  void SetResponder(Responder responder) { responder_ = std::move(responder); }

  // Commands other than INQUIRY, on every drive, in order.
  const std::vector<LoggedCommand>& commands() const { return commands_; }
  size_t inquiries() const { return inquiries_; }
  // Also restarts the responder's index.
  void ClearLog() {
    commands_.clear();
    recorderCommands_ = 0;
  }

  std::unique_ptr<ScsiDrive> Open(const char* deviceName) override;

 private:
  friend class LoggedDrive;
  bool Run(char digit, const ScsiRequest& request, uint8_t& status);

  std::array<Slot, 9> slots_{};
  Responder responder_;
  std::vector<LoggedCommand> commands_;
  size_t recorderCommands_ = 0;
  size_t inquiries_ = 0;
};

class LoggedDrive : public ScsiDrive {
 public:
  LoggedDrive(CommandLogPassThrough& host, char digit) : host_(host), digit_(digit) {}
  bool Execute(const ScsiRequest& request, uint8_t& status) override {
    return host_.Run(digit_, request, status);
  }

 private:
  CommandLogPassThrough& host_;
  char digit_;
};

inline std::unique_ptr<ScsiDrive> CommandLogPassThrough::Open(const char* deviceName) {
  const std::string name = deviceName;
  const std::string prefix = "\\\\.\\PHYSICALDRIVE";
  EXPECT_EQ(name.size(), prefix.size() + 1) << name;
  EXPECT_EQ(name.substr(0, prefix.size()), prefix) << name;
  const char digit = name.back();
  if (digit < '0' || digit > '8') {
    ADD_FAILURE() << "open of a name without a drive digit: " << name;
    return nullptr;
  }
  if (slots_[digit - '0'] == Slot::kEmpty) return nullptr;
  return std::make_unique<LoggedDrive>(*this, digit);
}

inline bool CommandLogPassThrough::Run(char digit, const ScsiRequest& request, uint8_t& status) {
  EXPECT_EQ(request.timeoutSeconds, 2u);
  EXPECT_EQ(request.length == 0, request.buffer == nullptr)
      << "length " << request.length << " must come with a buffer and only then";
  const bool isRecorder = slots_[digit - '0'] == Slot::kRecorder;
  if (request.cdb[0] == 0x12) {
    ++inquiries_;
    if (request.buffer && isRecorder) {
      std::copy(kInquiryTemplate.begin(), kInquiryTemplate.end(), request.buffer);
    } else if (request.buffer) {
      std::memset(request.buffer, 0, std::min<uint32_t>(request.length, 36));
      std::memcpy(request.buffer + 8, "OTHER   ", 8);
    }
    status = 0;
    return true;
  }
  LoggedCommand command;
  command.drive = digit;
  command.cdb = request.cdb;
  command.dataIn = request.dataIn;
  command.length = request.length;
  command.hasBuffer = request.buffer != nullptr;
  command.buffer = request.buffer;
  if (request.dataIn == kDataOut && request.buffer)
    command.dataSent.assign(request.buffer, request.buffer + request.length);
  commands_.push_back(command);
  if (!isRecorder) {
    status = 0x02;  // a foreign disk does not know the vendor commands
    return true;
  }
  const Reply reply = responder_ ? responder_(command, recorderCommands_) : Reply{};
  ++recorderCommands_;
  if (request.dataIn == kDataIn && request.buffer) {
    const size_t n = std::min<size_t>(reply.data.size(), request.length);
    std::copy_n(reply.data.begin(), n, request.buffer);
  }
  status = reply.status;
  return reply.completed;
}

// A link whose scan has found the recorder on `digit`.
inline void PlaceAndScan(CommandLogPassThrough& host, ScsiLink& link, int digit) {
  host.Place(digit, Slot::kRecorder);
  ASSERT_TRUE(link.IsConnected());
  ASSERT_EQ(link.DriveDigit(), '0' + digit);
}

inline Cdb MakeCdb(std::initializer_list<uint8_t> head) {
  Cdb cdb{};
  std::copy(head.begin(), head.end(), cdb.begin());
  return cdb;
}

}  // namespace omr72::cmdlog
