// omr72-bench-measure BUILD_DIR: the measurements that need whole processes or real time, one
// table row each on standard output ("| what | value | target |"):
//   - full updates in omr72-sim's code under realistic latency: wall time against the modelled
//     device time, CPU time, peak RSS (the kernel's accounting of that process, from wait4);
//   - peak RSS of omr72-sim itself for the same updates without latency;
//   - CPU over wall time of omr72-updater in its connection wait, and of omr72-sim in a restart
//     wait that never ends (the process's own scheduler time, /proc/PID/schedstat);
//   - how long after its return the emulated recorder is seen by the updater's restart wait;
//   - how long after an sg node appears the Linux pass-through's presence scan opens it (a fake
//     sysfs and /dev in a temporary folder), and what that wait costs.
// It never fails on a number: targets are printed beside the values for a reader to judge.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulated_host.h"
#include "emulator/recorder.h"
#include "emulator/scripted_console.h"
#include "platform/linux/pass_through.h"
#include "platform/native.h"
#include "scsilink/scsi_link.h"
#include "updater/status_line.h"

namespace omr72::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

double ToSeconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// A child process with standard input from a pipe that the parent holds open, so that it sees
// `keys` and then waits for more rather than reaching the end of its input.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::string& keys) {
    int in[2];
    if (pipe(in) != 0) return;
    start_ = Clock::now();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      close(in[0]);
      close(in[1]);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(in[0]);
    input_ = in[1];
    if (!keys.empty() && write(input_, keys.data(), keys.size()) < 0) keys_failed_ = true;
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0) close(input_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0 && !keys_failed_; }

  // Nanoseconds the process has run on a CPU so far.
  std::optional<double> CpuSeconds() const {
    std::ifstream schedstat("/proc/" + std::to_string(pid_) + "/schedstat");
    unsigned long long ns = 0;
    if (!(schedstat >> ns)) return std::nullopt;
    return static_cast<double>(ns) / 1e9;
  }

  struct End {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long maxRssKb = 0;
    int status = -1;
  };
  End Wait(bool kill_first = false) {
    if (kill_first) kill(pid_, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid_, &status, 0, &usage);
    reaped_ = true;
    End end;
    end.wallSeconds = Seconds(Clock::now() - start_).count();
    end.cpuSeconds = ToSeconds(usage.ru_utime) + ToSeconds(usage.ru_stime);
    end.maxRssKb = usage.ru_maxrss;
    end.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return end;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  bool reaped_ = false;
  bool keys_failed_ = false;
  Clock::time_point start_;
};

void Row(const std::string& what, const std::string& value, const std::string& target) {
  std::printf("| %s | %s | %s |\n", what.c_str(), value.c_str(), target.c_str());
  std::fflush(stdout);
}

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

struct Route {
  const char* name;
  std::vector<std::string> options;
};

const std::vector<Route>& Routes() {
  static const std::vector<Route> routes = {
      {"disk route, boot-loader upgrade", {"--route", "disk"}},
      {"USB 1.x", {"--route", "usb"}},
      {"USB 0.x NAND", {"--route", "usb", "--boot-loader", "0.5"}},
  };
  return routes;
}

// Answers to the loading, confirmation and upgrade questions, and the key at the end.
constexpr char kUpdateKeys[] = "YLYY";

// Each route's update runs kUpdateRuns times; the run with the median overhead is reported,
// with the range, since one run on a shared machine may catch a burst of other work.
constexpr int kUpdateRuns = 3;

struct UpdateRun {
  Child::End end;
  double modelledSeconds = 0;
  double overheadPercent() const {
    return modelledSeconds > 0 ? (end.wallSeconds / modelledSeconds - 1) * 100 : 0;
  }
};

void MeasureUpdates(const fs::path& build) {
  const fs::path timeFile = fs::temp_directory_path() / ("omr72-bench-" + std::to_string(getpid()));
  for (const Route& route : Routes()) {
    std::vector<std::string> argv = {(build / "bench" / "omr72-bench-update").string(),
                                     timeFile.string(), "--latency", "realistic"};
    argv.insert(argv.end(), route.options.begin(), route.options.end());
    std::vector<UpdateRun> runs;
    for (int i = 0; i < kUpdateRuns; ++i) {
      Child child(argv, kUpdateKeys);
      if (!child.started()) continue;
      UpdateRun run{child.Wait()};
      double modelledMs = 0;
      std::ifstream(timeFile) >> modelledMs;
      run.modelledSeconds = modelledMs / 1000;
      runs.push_back(run);
    }
    if (runs.empty()) continue;
    std::sort(runs.begin(), runs.end(), [](const UpdateRun& a, const UpdateRun& b) {
      return a.overheadPercent() < b.overheadPercent();
    });
    const UpdateRun& median = runs[runs.size() / 2];
    long maxRssKb = 0;
    for (const UpdateRun& run : runs) maxRssKb = std::max(maxRssKb, run.end.maxRssKb);
    Row(std::string("update wall / modelled device time, ") + route.name,
        Format("%.3f s / %.3f s = %+.2f %%", median.end.wallSeconds, median.modelledSeconds,
               median.overheadPercent()) +
            Format(" (median of %.0f, range %+.2f to %+.2f %%;", runs.size(),
                   runs.front().overheadPercent(), runs.back().overheadPercent()) +
            Format(" CPU %.3f s, exit %.0f)", median.end.cpuSeconds, median.end.status),
        "within 0.5 %");
    Row(std::string("peak RSS, realistic update, ") + route.name,
        Format("%.2f MiB (highest of the runs)", maxRssKb / 1024.0), "below 4 MiB");
  }
  fs::remove(timeFile);
  for (const Route& route : Routes()) {
    std::vector<std::string> argv = {(build / "tools" / "sim" / "omr72-sim").string(), "--latency",
                                     "none"};
    argv.insert(argv.end(), route.options.begin(), route.options.end());
    Child child(argv, kUpdateKeys);
    if (!child.started()) continue;
    const Child::End end = child.Wait();
    Row(std::string("peak RSS, omr72-sim update without latency, ") + route.name,
        Format("%.2f MiB (exit %.0f)", end.maxRssKb / 1024.0, end.status), "below 4 MiB");
  }
}

// CPU share of a process between `settle` and `settle + window` after its start.
std::optional<double> WaitShare(const std::vector<std::string>& argv, const std::string& keys,
                                std::chrono::milliseconds settle,
                                std::chrono::milliseconds window) {
  Child child(argv, keys);
  if (!child.started()) return std::nullopt;
  std::this_thread::sleep_for(settle);
  const Clock::time_point t0 = Clock::now();
  const std::optional<double> cpu0 = child.CpuSeconds();
  std::this_thread::sleep_for(window);
  const std::optional<double> cpu1 = child.CpuSeconds();
  const double wall = Seconds(Clock::now() - t0).count();
  child.Wait(true);
  if (!cpu0 || !cpu1) return std::nullopt;
  return (*cpu1 - *cpu0) / wall;
}

void MeasureUpdaterWait(const fs::path& updater, const std::string& label) {
  using std::chrono::milliseconds;
  const std::optional<double> share =
      WaitShare({updater.string()}, "", milliseconds(1000), milliseconds(10000));
  Row("CPU / wall, " + label + " connection wait (this machine's USB and sg devices), 10 s",
      share ? Format("%.2f %%", *share * 100) : "not measured", "below 1 %");
}

void MeasureWaits(const fs::path& build) {
  using std::chrono::milliseconds;
  MeasureUpdaterWait(build / "updater" / "omr72-updater", "omr72-updater");
  const std::optional<double> sim =
      WaitShare({(build / "tools" / "sim" / "omr72-sim").string(), "--latency", "realistic",
                 "--route", "disk", "--no-return"},
                "YLY", milliseconds(3000), milliseconds(5000));
  Row("CPU / wall, omr72-sim restart wait, 5 s",
      sim ? Format("%.2f %%", *sim * 100) : "not measured", "(emulated host)");
}

// The updater's restart wait over the emulated host with realistic latency: the delay between
// the recorder's return (its restart time after the restart) and the wait's end.
void MeasureEmulatedReturn() {
  emu::RecorderConfig config;
  config.realisticLatency = true;
  emu::EmulatedHost host(config, emu::KnownImages{});
  ScsiLink disk(host.scsi());
  emu::ScriptedConsole console;  // not a terminal: the wait shows nothing
  StatusLine status(console);
  SteadyClock clock;
  RestartWait restartWait(host.sleeper(), clock, status);
  std::vector<double> delays;
  for (int i = 0; i < 5; ++i) {
    if (!disk.IsConnected()) break;
    host.recorder().Restart();
    const Clock::time_point restarted = Clock::now();
    restartWait.Wait([&] { return disk.IsConnected(); }, [&] { return disk.IsConnected(); });
    delays.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - restarted - emu::kRealisticRestart)
            .count());
  }
  if (delays.empty()) return;
  std::sort(delays.begin(), delays.end());
  Row("recorder return to end of restart wait, omr72-sim model (5 restarts)",
      Format("median %.2f ms, max %.2f ms", delays[delays.size() / 2], delays.back()),
      "within 20 ms");
}

// A fake sysfs with one USB disk, sg5, whose /dev node appears while a presence scan polls.
class FakeUsbDisk {
 public:
  FakeUsbDisk() {
    root_ = fs::temp_directory_path() / ("omr72-bench-sysfs-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(dev());
    const fs::path interface = sys() / "devices" / "pci0" / "usb1" / "1-1" / "1-1:1.0";
    const fs::path scsi = interface / "host5" / "target5:0:0" / "5:0:0:0";
    fs::create_directories(scsi);
    fs::create_directories(sys() / "bus" / "drivers" / "usb-storage");
    fs::create_directory_symlink(sys() / "bus" / "drivers" / "usb-storage", interface / "driver");
    fs::create_directories(sys() / "class" / "scsi_generic");
    // Unrelated devices the scans walk past every time.
    for (int k = 0; k < 4; ++k) {
      const fs::path other = sys() / "devices" / "pci0" / ("ata" + std::to_string(k));
      fs::create_directories(other);
      const fs::path entry = sys() / "class" / "scsi_generic" / ("sg" + std::to_string(k));
      fs::create_directories(entry);
      fs::create_directory_symlink(other, entry / "device");
    }
    scsi_ = scsi;
  }
  ~FakeUsbDisk() { fs::remove_all(root_); }

  fs::path sys() const { return root_ / "sys"; }
  fs::path dev() const { return root_ / "dev"; }

  // What the kernel does when the disk arrives: the class entry, then the node.
  void Arrive() {
    const fs::path entry = sys() / "class" / "scsi_generic" / "sg5";
    fs::create_directories(entry);
    fs::create_directory_symlink(scsi_, entry / "device");
    std::ofstream(dev() / "sg5") << "";
  }

 private:
  fs::path root_;
  fs::path scsi_;
};

// One presence scan as ScsiLink::IsConnected does it: drives 0 to 8, each opened and closed.
bool ScanOpens(ScsiPassThrough& scsi) {
  char name[] = R"(\\.\PHYSICALDRIVE0)";
  bool opened = false;
  for (char digit = '0'; digit < '9'; ++digit) {
    name[sizeof name - 2] = digit;
    opened = scsi.Open(name) != nullptr || opened;
  }
  return opened;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void MeasureNativeDiskArrival() {
  std::unique_ptr<Sleeper> sleeper = NativePlatform::MakeSleeper();
  std::vector<double> delays;
  double idleShare = 0;
  for (int i = 0; i < 5; ++i) {
    FakeUsbDisk disk;
    LinuxSgPassThrough scsi(disk.sys(), disk.dev());
    std::atomic<bool> arrived = false;
    Clock::time_point arrival;
    std::thread plug([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(i == 0 ? 3000 : 300 + 37 * i));
      disk.Arrive();
      arrival = Clock::now();
      arrived = true;
    });
    const Clock::time_point start = Clock::now();
    const double cpu0 = ThreadCpuSeconds();
    bool seen = false;
    while (!seen) {
      seen = ScanOpens(scsi);
      if (!arrived && i == 0) {
        // The first round also measures the wait's cost while nothing arrives.
        idleShare = (ThreadCpuSeconds() - cpu0) / Seconds(Clock::now() - start).count();
      }
      if (!seen) sleeper->SleepMs(1);
    }
    const Clock::time_point found = Clock::now();
    plug.join();
    delays.push_back(std::chrono::duration<double, std::milli>(found - arrival).count());
  }
  std::sort(delays.begin(), delays.end());
  Row("sg node appears to presence scan opening it, Linux pass-through over a fake sysfs",
      Format("median %.2f ms, max %.2f ms", delays[delays.size() / 2], delays.back()),
      "within 20 ms");
  Row("CPU / wall, Linux pass-through scans every 1 ms over a fake sysfs, nothing attached, 3 s",
      Format("%.2f %%", idleShare * 100), "below 1 %");
}

}  // namespace
}  // namespace omr72::bench

int main(int argc, char** argv) {
  using namespace omr72::bench;
  if (argc < 2) {
    std::fputs(
        "usage: omr72-bench-measure BUILD_DIR\n"
        "       omr72-bench-measure --updater-wait UPDATER...  (other builds, to compare)\n",
        stderr);
    return 2;
  }
  if (std::string(argv[1]) == "--updater-wait") {
    for (int i = 2; i < argc; ++i) MeasureUpdaterWait(argv[i], argv[i]);
    return 0;
  }
  const fs::path build = argv[1];
  std::printf("| measurement | value | target |\n| --- | --- | --- |\n");
  MeasureUpdates(build);
  MeasureWaits(build);
  MeasureEmulatedReturn();
  MeasureNativeDiskArrival();
  return 0;
}
