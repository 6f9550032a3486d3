// A console for in-process runs: keys come from a script, output is collected.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/instance_lock.h"

namespace omr72::emu {

// Each byte of the script is one raw key, as the Windows console reports them: a key without a
// character is a 0 (or 0xE0) byte followed by its key code. After the script, end of input.
class ScriptedConsole : public Console {
 public:
  explicit ScriptedConsole(std::string keys = {}) : keys_(std::move(keys)) {}

  bool KeyWaiting() override { return next_ < keys_.size(); }
  int ReadRawKey() override {
    if (next_ >= keys_.size()) return kEndOfInput;
    return bytes_.Next(static_cast<uint8_t>(keys_[next_++]));
  }
  void Write(std::string_view text) override { output_.append(text); }

  const std::string& output() const { return output_; }
  size_t keysRead() const { return next_; }

 private:
  std::string keys_;
  size_t next_ = 0;
  ScriptedKeyBytes bytes_;
  std::string output_;
};

// An instance lock whose answer the test chooses.
class EmulatedLock : public InstanceLock {
 public:
  explicit EmulatedLock(LockResult result = LockResult::kAcquired) : result_(result) {}
  LockResult Acquire(const char* name) override {
    name_ = name;
    return result_;
  }
  const std::string& name() const { return name_; }

 private:
  LockResult result_;
  std::string name_;
};

}  // namespace omr72::emu
