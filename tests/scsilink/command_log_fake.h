// A strict stand-in for the host's drives: nine slots that are empty, hold the recorder or hold
// a foreign disk. Every command other than INQUIRY that reaches any drive is logged with its
// drive; the recorder answers from a responder that the test sets.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scsilink/scsi_link.h"

namespace omr72::cmdlog {

struct LoggedCommand {
  char drive = '?';
  Cdb cdb{};
  uint8_t dataIn = 0xFF;
  uint32_t length = 0;
  const uint8_t* buffer = nullptr;
  std::vector<uint8_t> dataSent;  // the buffer's bytes for data-out commands
};

struct Reply {
  bool completed = true;
  uint8_t status = 0;
  std::vector<uint8_t> data;  // copied into a data-in buffer, at most `length` bytes
};

enum class Slot { kEmpty, kRecorder, kForeign };

// The first 36 bytes of the recorder's INQUIRY data, spelt out.
inline constexpr std::array<uint8_t, 36> kRecorderInquiry = {
    0x00, 0x80, 0x05, 0x02, 0x20, 0x00, 0x80, 0x00, 'C',  'o',  'o',  'l',
    ' ',  0x00, ' ',  ' ',  'M',  'a',  's',  's',  ' ',  'S',  't',  'o',
    'r',  'a',  'g',  'e',  ' ',  0x00, ' ',  ' ',  0x00, 0x00, 0x00, 0x01};

class CommandLogPassThrough : public ScsiPassThrough {
 public:
  // `index` counts the recorder's logged commands from 0 (restarted by ClearLog).
  using Responder = std::function<Reply(const LoggedCommand&, size_t index)>;

  void Place(int digit, Slot slot) { slots_[digit] = slot; }
  void SetResponder(Responder responder) { responder_ = std::move(responder); }
  // Every command fails with CHECK CONDITION at `failing`, the others succeed without data.
  void FailAt(size_t failing) {
    responder_ = [failing](const LoggedCommand&, size_t index) {
      return Reply{true, static_cast<uint8_t>(index == failing ? 0x02 : 0x00), {}};
    };
  }
  const std::vector<LoggedCommand>& commands() const { return commands_; }
  void ClearLog() {
    commands_.clear();
    recorderCommands_ = 0;
  }

  std::unique_ptr<ScsiDrive> Open(const char* deviceName) override {
    const std::string name = deviceName;
    const char digit = name.size() == 18 ? name.back() : '?';
    if (!name.starts_with("\\\\.\\PHYSICALDRIVE") || digit < '0' || digit > '8') {
      ADD_FAILURE() << "open of a name that is none of the nine drives: " << name;
      return nullptr;
    }
    if (slots_[digit - '0'] == Slot::kEmpty) return nullptr;
    return std::make_unique<Drive>(*this, digit);
  }

 private:
  struct Drive : ScsiDrive {
    Drive(CommandLogPassThrough& h, char d) : host(h), digit(d) {}
    bool DoExecute(const ScsiRequest& r, uint8_t& status) override {
      return host.Run(digit, r, status);
    }
    CommandLogPassThrough& host;
    char digit;
  };

  bool Run(char digit, const ScsiRequest& request, uint8_t& status) {
    EXPECT_EQ(request.timeoutSeconds, 2u);
    const ByteSpan in = request.data.in();
    const bool recorder = slots_[digit - '0'] == Slot::kRecorder;
    status = 0;
    if (request.cdb[0] == 0x12) {
      EXPECT_GE(in.size(), 36u);
      std::fill_n(in.begin(), 36, 0);
      if (recorder) std::copy(kRecorderInquiry.begin(), kRecorderInquiry.end(), in.begin());
      return true;
    }
    const uint8_t* bytes = request.length() == 0 ? nullptr : request.data.bytes().data();
    LoggedCommand c{digit, request.cdb, request.direction(), request.length(), bytes, {}};
    c.dataSent.assign(request.data.out().begin(), request.data.out().end());
    commands_.push_back(c);
    if (!recorder) {
      status = 0x02;  // a foreign disk does not know the vendor commands
      return true;
    }
    const Reply reply = responder_ ? responder_(c, recorderCommands_) : Reply{};
    ++recorderCommands_;
    std::copy_n(reply.data.begin(), std::min(reply.data.size(), in.size()), in.begin());
    status = reply.status;
    return reply.completed;
  }

  std::array<Slot, 9> slots_{};
  Responder responder_;
  std::vector<LoggedCommand> commands_;
  size_t recorderCommands_ = 0;
};

// The recorder on `digit`, found by a scan.
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
