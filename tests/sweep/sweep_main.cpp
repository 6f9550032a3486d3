// omr72-sweep: every flow of the updater with every fault the emulated recorder can produce at
// each of its commands (the command fails; the recorder is unplugged just before it and plugged
// in again) and with seeded identification replies, a foreign disk at drive 0 and a foreign USB
// device at ezusb-0. Prints
//   sweep: N runs, E ended, W waited, B broke a rule
// and exits with 1 when a run broke a rule. Runs are shared among worker processes; a worker
// that crashes counts its run as broken and the rest of its share goes to a new worker.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/native.h"
#include "tests/sweep/sweep_run.h"
#include "tools/sim/simulation.h"

namespace omr72::sweep {
namespace {

struct Flow {
  const char* name;
  std::vector<std::string> options;
};

// The recorder sits at drive 1 and ezusb-1, behind the foreign devices at slot 0, so every
// scan passes a device that is not the recorder first.
const std::vector<std::string> kHost = {"--usb-name",    "1", "--foreign-disk", "0",
                                        "--foreign-usb", "0"};

const std::vector<Flow>& Flows() {
  static const std::vector<Flow> flows = {
      {"disk, boot-loader upgrade", {}},
      {"usb 1.x, boot-loader upgrade", {"--route", "usb"}},
      {"usb 0.x, NAND rewrite", {"--route", "usb", "--boot-loader", "0.5"}},
      {"usb, no upgrade", {"--route", "usb", "--boot-loader", "2.0"}},
      {"disk, no upgrade", {"--boot-loader", "2.0"}},
  };
  return flows;
}

struct Settings {
  int jobs = 2;
  bool detail = false;
  std::vector<std::string> faults = {"fail", "unplug", "replies"};
  SweepLimits limits;
};

RunSpec MakeSpec(const Flow& flow, std::vector<std::string> fault) {
  RunSpec spec;
  spec.flow = flow.name;
  spec.options = kHost;
  spec.options.insert(spec.options.end(), flow.options.begin(), flow.options.end());
  spec.options.insert(spec.options.end(), fault.begin(), fault.end());
  return spec;
}

// The fault options that put the fault at command k: the command fails, or the recorder is
// pulled just before it and plugged in again a few polls later.
std::vector<std::string> FaultAt(const std::string& fault, size_t k) {
  if (fault == "fail") return {"--fail-command", std::to_string(k)};
  return {"--unplug-at", std::to_string(k), "--replug-after", "3"};
}

constexpr size_t kReplySeeds = 100;  // per flow

// Each flow once without a fault (which also counts its commands), then once per command and
// fault kind.
std::vector<RunSpec> PlanRuns(const Settings& settings, const emu::KnownImages& images) {
  std::vector<RunSpec> runs;
  for (const Flow& flow : Flows()) {
    RunSpec clean = MakeSpec(flow, {});
    const size_t commands = RunOne(clean, images, settings.limits).commands;
    runs.push_back(clean);
    for (const std::string& fault : settings.faults) {
      if (fault == "replies") {
        for (size_t seed = 1; seed <= kReplySeeds; ++seed) {
          runs.push_back(MakeSpec(flow, {"--reply-fuzz", std::to_string(seed)}));
        }
        continue;
      }
      for (size_t k = 1; k <= commands; ++k) runs.push_back(MakeSpec(flow, FaultAt(fault, k)));
    }
  }
  return runs;
}

std::string Describe(const RunSpec& spec) {
  std::string text = spec.flow + ":";
  for (size_t i = kHost.size(); i < spec.options.size(); ++i) text += " " + spec.options[i];
  return text;
}

// Worker: runs its share and writes "index outcome label" lines to `fd`.
[[noreturn]] void Work(const std::vector<size_t>& share, const std::vector<RunSpec>& runs,
                       const emu::KnownImages& images, const Settings& settings, int fd) {
  FILE* out = fdopen(fd, "w");
  for (size_t index : share) {
    const RunResult r = RunOne(runs[index], images, settings.limits);
    std::fprintf(out, "%zu %d %s\n", index, static_cast<int>(r.outcome), r.label.c_str());
    std::fflush(out);
  }
  std::fclose(out);
  std::_Exit(0);
}

struct Worker {
  pid_t pid = -1;
  int fd = -1;
  std::vector<size_t> share;
  std::string pending;  // a line not yet complete
};

Worker Spawn(std::vector<size_t> share, const std::vector<RunSpec>& runs,
             const emu::KnownImages& images, const Settings& settings) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) std::abort();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    close(pipeFds[0]);
    Work(share, runs, images, settings, pipeFds[1]);
  }
  close(pipeFds[1]);
  return Worker{pid, pipeFds[0], std::move(share), {}};
}

struct Tally {
  std::vector<std::optional<RunResult>> results;
};

void TakeLine(const std::string& line, Tally& tally) {
  size_t index = 0;
  int outcome = 0;
  int used = 0;
  if (std::sscanf(line.c_str(), "%zu %d %n", &index, &outcome, &used) < 2) return;
  if (index >= tally.results.size()) return;
  tally.results[index] = RunResult{static_cast<Outcome>(outcome), line.substr(used), 0};
}

// Drains one worker's pipe until it ends; then settles a crash.
void Finish(Worker& w, Tally& tally, std::vector<Worker>& replacements,
            const std::vector<RunSpec>& runs, const emu::KnownImages& images,
            const Settings& settings) {
  close(w.fd);
  int status = 0;
  waitpid(w.pid, &status, 0);
  std::vector<size_t> left;
  for (size_t index : w.share) {
    if (!tally.results[index]) left.push_back(index);
  }
  if (left.empty()) return;
  const std::string why = WIFSIGNALED(status)
                              ? "crashed with signal " + std::to_string(WTERMSIG(status))
                              : "worker ended with status " + std::to_string(WEXITSTATUS(status));
  tally.results[left.front()] = RunResult{Outcome::kBroke, why, 0};
  left.erase(left.begin());
  if (!left.empty()) replacements.push_back(Spawn(left, runs, images, settings));
}

std::vector<RunResult> RunAll(const std::vector<RunSpec>& runs, const emu::KnownImages& images,
                              const Settings& settings) {
  Tally tally;
  tally.results.resize(runs.size());
  std::vector<Worker> workers;
  const size_t jobs = static_cast<size_t>(std::max(1, settings.jobs));
  for (size_t w = 0; w < jobs; ++w) {
    std::vector<size_t> share;
    for (size_t i = w; i < runs.size(); i += jobs) share.push_back(i);
    workers.push_back(Spawn(share, runs, images, settings));
  }
  while (!workers.empty()) {
    std::vector<pollfd> fds;
    for (const Worker& w : workers) fds.push_back({w.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    std::vector<Worker> next;
    for (size_t i = 0; i < workers.size(); ++i) {
      Worker& w = workers[i];
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
        next.push_back(std::move(w));
        continue;
      }
      char buffer[4096];
      const ssize_t n = read(w.fd, buffer, sizeof buffer);
      if (n > 0) {
        w.pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = w.pending.find('\n')) != std::string::npos;) {
          TakeLine(w.pending.substr(0, end), tally);
          w.pending.erase(0, end + 1);
        }
        next.push_back(std::move(w));
        continue;
      }
      Finish(w, tally, next, runs, images, settings);
    }
    workers = std::move(next);
  }
  std::vector<RunResult> results;
  for (auto& r : tally.results)
    results.push_back(r.value_or(RunResult{Outcome::kBroke, "lost", 0}));
  return results;
}

bool ParseArguments(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--jobs" && hasValue) {
      s.jobs = std::atoi(argv[++i]);
    } else if (arg == "--faults" && hasValue) {
      const std::string which = argv[++i];
      if (which == "all") {
        s.faults = {"fail", "unplug", "replies"};
      } else if (which == "fail" || which == "unplug" || which == "replies") {
        s.faults = {which};
      } else {
        return false;
      }
    } else if (arg == "--wait-opens" && hasValue) {
      s.limits.waitOpens = static_cast<size_t>(std::atol(argv[++i]));
    } else if (arg == "--detail") {
      s.detail = true;
    } else {
      return false;
    }
  }
  return s.jobs > 0 && s.limits.waitOpens >= 100;
}

int Main(int argc, char** argv) {
  Settings settings;
  if (!ParseArguments(argc, argv, settings)) {
    std::fputs(
        "usage: omr72-sweep [--jobs N] [--faults fail|unplug|replies|all] [--wait-opens N] "
        "[--detail]\n",
        stderr);
    return 2;
  }
  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  const emu::KnownImages images = sim::ReadKnownImages(*module, module->Path(argv[0]));
  const std::vector<RunSpec> runs = PlanRuns(settings, images);
  const std::vector<RunResult> results = RunAll(runs, images, settings);

  size_t counts[3] = {0, 0, 0};
  std::map<std::string, size_t> labels;
  for (size_t i = 0; i < results.size(); ++i) {
    const RunResult& r = results[i];
    ++counts[static_cast<int>(r.outcome)];
    if (r.outcome == Outcome::kBroke) {
      std::fprintf(stderr, "broke: %s: %s\n", Describe(runs[i]).c_str(), r.label.c_str());
    }
    static const char* const kNames[] = {"ended", "waited", "broke"};
    ++labels[runs[i].flow + ": " + kNames[static_cast<int>(r.outcome)] + ": " + r.label];
  }
  if (settings.detail) {
    for (const auto& [label, n] : labels) std::fprintf(stderr, "%6zu  %s\n", n, label.c_str());
  }
  std::printf("sweep: %zu runs, %zu ended, %zu waited, %zu broke a rule\n", results.size(),
              counts[0], counts[1], counts[2]);
  return counts[2] > 0 ? 1 : 0;
}

}  // namespace
}  // namespace omr72::sweep

int main(int argc, char** argv) {
  return omr72::sweep::Main(argc, argv);
}
