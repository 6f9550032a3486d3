// Linux: the sleeper, nanosleep resumed after signals so that a pause is never cut short.
#include <errno.h>
#include <time.h>

#include <memory>

#include "platform/native.h"

namespace omr72 {
namespace {

class LinuxSleeper : public Sleeper {
 public:
  void SleepMs(uint32_t milliseconds) override {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

std::unique_ptr<Sleeper> NativePlatform::MakeSleeper() {
  return std::make_unique<LinuxSleeper>();
}

}  // namespace omr72
