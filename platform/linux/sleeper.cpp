// Linux: the sleeper, nanosleep resumed after signals so that a pause is never cut short.
//
// The waits sleep a millisecond per pass. Sleep(1) on Windows lasts up to a timer tick
// (15.6 ms), and waking a thousand times a second costs more than the scan itself (about 20 us
// a wake-up on a virtual machine, 2 % of a core). So the kernel may defer our wake-up by up to
// kTimerSlackNs to fold it into others: a pause lasts 1 to 5 ms, a wait costs a fraction of a
// per cent, and a recorder is still noticed well within the tick Windows would take.
#include <errno.h>
#include <sys/prctl.h>
#include <time.h>

#include <memory>

#include "platform/native.h"

namespace omr72 {
namespace {

constexpr unsigned long kTimerSlackNs = 4'000'000;

class LinuxSleeper : public Sleeper {
 public:
  void SleepMs(uint32_t milliseconds) override {
    // The slack belongs to the calling thread, so it is set by the thread that sleeps.
    if (!slackSet_) slackSet_ = prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0) == 0;
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
  }

 private:
  bool slackSet_ = false;
};

}  // namespace

std::unique_ptr<Sleeper> NativePlatform::MakeSleeper() {
  return std::make_unique<LinuxSleeper>();
}

}  // namespace omr72
