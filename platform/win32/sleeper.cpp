// Windows: the sleeper.
#include <windows.h>

#include <memory>

#include "platform/native.h"

namespace omr72 {
namespace {

class Win32Sleeper : public Sleeper {
 public:
  void SleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }
};

}  // namespace

std::unique_ptr<Sleeper> NativePlatform::MakeSleeper() {
  return std::make_unique<Win32Sleeper>();
}

}  // namespace omr72
