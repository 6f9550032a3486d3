#include "tools/sim/sim_options.h"

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <set>

namespace omr72::sim {
namespace {

using emu::StartRoute;
using emu::Verdict;

constexpr size_t kMaxSerial = 20;
constexpr size_t kModelTagLength = 5;

bool ParseNumber(const std::string& text, long min, long max, long& out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && p == end && out >= min && out <= max;
}

// "M.m" with both parts in 0..255, as the updater prints versions.
bool ParseVersion(const std::string& text, uint16_t& out) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos) return false;
  long major = 0;
  long minor = 0;
  if (!ParseNumber(text.substr(0, dot), 0, 255, major)) return false;
  if (!ParseNumber(text.substr(dot + 1), 0, 255, minor)) return false;
  out = static_cast<uint16_t>((major << 8) | minor);
  return true;
}

bool ParseSlot(const std::string& text, int& out) {
  long n = 0;
  if (!ParseNumber(text, 0, 8, n)) return false;
  out = static_cast<int>(n);
  return true;
}

using Handler = std::function<bool(const std::string& value, SimOptions& o)>;

struct OptionSpec {
  bool takesValue;
  Handler handle;
  const char* expected;  // what a good value looks like, for the error text
};

const std::map<std::string, OptionSpec>& Options() {
  static const std::map<std::string, OptionSpec> options = {
      {"--route",
       {true,
        [](const std::string& v, SimOptions& o) {
          static const std::map<std::string, StartRoute> routes = {{"usb", StartRoute::kUsb},
                                                                   {"disk", StartRoute::kDisk},
                                                                   {"both", StartRoute::kBoth},
                                                                   {"none", StartRoute::kNone}};
          auto it = routes.find(v);
          if (it == routes.end()) return false;
          o.recorder.route = it->second;
          return true;
        },
        "usb, disk, both or none"}},
      {"--boot-loader",
       {true,
        [](const std::string& v, SimOptions& o) {
          return ParseVersion(v, o.recorder.bootLoaderVersion);
        },
        "a version M.m"}},
      {"--boot-loader-silent",
       {false, [](const std::string&, SimOptions& o) { return o.recorder.bootLoaderSilent = true; },
        ""}},
      {"--firmware",
       {true,
        [](const std::string& v, SimOptions& o) {
          if (v == "none") {
            o.recorder.firmwareVersion.reset();
            return true;
          }
          uint16_t version = 0;
          if (!ParseVersion(v, version)) return false;
          o.recorder.firmwareVersion = version;
          return true;
        },
        "a version M.m or none"}},
      {"--serial",
       {true,
        [](const std::string& v, SimOptions& o) {
          if (v.size() > kMaxSerial || v.find('\0') != std::string::npos) return false;
          o.recorder.serial = v;
          return true;
        },
        "at most 20 bytes"}},
      {"--model-tag",
       {true,
        [](const std::string& v, SimOptions& o) {
          if (v.size() != kModelTagLength) return false;
          std::array<uint8_t, kModelTagLength> tag{};
          std::copy(v.begin(), v.end(), tag.begin());
          o.recorder.modelTag = tag;
          return true;
        },
        "exactly 5 bytes"}},
      {"--drive",
       {true, [](const std::string& v, SimOptions& o) { return ParseSlot(v, o.recorder.drive); },
        "a drive digit 0..8"}},
      {"--usb-name",
       {true, [](const std::string& v, SimOptions& o) { return ParseSlot(v, o.recorder.usbName); },
        "a device number 0..8"}},
      {"--foreign-disk",
       {true,
        [](const std::string& v, SimOptions& o) {
          int slot = 0;
          if (!ParseSlot(v, slot)) return false;
          o.recorder.foreignDisks.push_back(slot);
          return true;
        },
        "a drive digit 0..8"}},
      {"--foreign-usb",
       {true,
        [](const std::string& v, SimOptions& o) {
          int slot = 0;
          if (!ParseSlot(v, slot)) return false;
          o.recorder.foreignUsb.push_back(slot);
          return true;
        },
        "a device number 0..8"}},
      {"--attach-after",
       {true,
        [](const std::string& v, SimOptions& o) {
          long n = 0;
          if (!ParseNumber(v, 0, 1000000000, n)) return false;
          o.recorder.attachAfter = static_cast<int>(n);
          return true;
        },
        "a number of polls"}},
      {"--fail-command",
       {true,
        [](const std::string& v, SimOptions& o) {
          long n = 0;
          if (!ParseNumber(v, 1, 1000000000, n)) return false;
          o.recorder.failCommands.push_back(static_cast<int>(n));
          return true;
        },
        "a command number from 1"}},
      {"--no-return",
       {false, [](const std::string&, SimOptions& o) { return o.recorder.noReturn = true; }, ""}},
      {"--verdict",
       {true,
        [](const std::string& v, SimOptions& o) {
          if (v == "1")
            o.recorder.verdict = Verdict::kAccept;
          else if (v == "0")
            o.recorder.verdict = Verdict::kReject;
          else if (v == "fail")
            o.recorder.verdict = Verdict::kFail;
          else
            return false;
          return true;
        },
        "1, 0 or fail"}},
      {"--corrupt-readback",
       {false, [](const std::string&, SimOptions& o) { return o.recorder.corruptReadback = true; },
        ""}},
      {"--unplug-at",
       {true,
        [](const std::string& v, SimOptions& o) {
          long n = 0;
          if (!ParseNumber(v, 1, 1000000000, n)) return false;
          o.recorder.unplugAt = static_cast<int>(n);
          return true;
        },
        "a command number from 1"}},
      {"--replug-after",
       {true,
        [](const std::string& v, SimOptions& o) {
          long n = 0;
          if (!ParseNumber(v, 0, 1000000000, n)) return false;
          o.recorder.replugAfter = static_cast<int>(n);
          return true;
        },
        "a number of polls"}},
      {"--reply-fuzz",
       {true,
        [](const std::string& v, SimOptions& o) {
          uint64_t seed = 0;
          const char* end = v.data() + v.size();
          auto [p, ec] = std::from_chars(v.data(), end, seed);
          if (v.empty() || ec != std::errc() || p != end) return false;
          o.recorder.replyFuzzSeed = seed;
          return true;
        },
        "a seed, 0 to 2^64-1"}},
      {"--trace",
       {true,
        [](const std::string& v, SimOptions& o) {
          if (v.empty()) return false;
          o.traceFile = v;
          return true;
        },
        "a file name"}},
      {"--state",
       {true,
        [](const std::string& v, SimOptions& o) {
          if (v.empty()) return false;
          o.stateFile = v;
          return true;
        },
        "a file name"}},
      {"--payloads",
       {true,
        [](const std::string& v, SimOptions& o) {
          if (v.empty() || o.payloads) return false;
          o.payloads = v;
          o.programArguments.insert(o.programArguments.begin(), {"--payloads", v});
          return true;
        },
        "the maker's updater or a folder, once"}},
      {"--latency",
       {true,
        [](const std::string& v, SimOptions& o) {
          if (v == "realistic")
            o.realisticLatency = true;
          else if (v == "none")
            o.realisticLatency = false;
          else
            return false;
          return true;
        },
        "realistic or none"}},
      {"--pause-at",
       {true,
        [](const std::string& v, SimOptions& o) {
#ifdef SIGSTOP
          long n = 0;
          if (!ParseNumber(v, 1, 1000000000, n)) return false;
          o.pauseAt = static_cast<int>(n);
          return true;
#else
          (void)v;
          (void)o;
          return false;  // no way for a process to stop itself here
#endif
        },
        "a command number from 1"}},
      {"--help", {false, [](const std::string&, SimOptions& o) { return o.help = true; }, ""}},
      {"--version",
       {false, [](const std::string&, SimOptions& o) { return o.version = true; }, ""}},
  };
  return options;
}

std::optional<std::string> CheckSlots(const emu::RecorderConfig& r) {
  for (int slot : r.foreignDisks) {
    if (slot == r.drive && r.route != StartRoute::kNone) {
      return "--foreign-disk " + std::to_string(slot) + ": the recorder is on that drive";
    }
  }
  // A recorder that starts on the disk never shows its USB face.
  const bool usbFace = r.route == StartRoute::kUsb || r.route == StartRoute::kBoth;
  for (int slot : r.foreignUsb) {
    if (slot == r.usbName && usbFace) {
      return "--foreign-usb " + std::to_string(slot) + ": the recorder is on that device";
    }
  }
  return std::nullopt;
}

// The NAND boot-block route: a recorder found on USB whose boot loader answers a version
// below 1.0.
bool TakesNandRoute(const emu::RecorderConfig& r) {
  const bool usbRoute = r.route == StartRoute::kUsb || r.route == StartRoute::kBoth;
  return usbRoute && !r.bootLoaderSilent && r.bootLoaderVersion >= 0x0001 &&
         r.bootLoaderVersion <= 0x00FF;
}

// Faults that could not act with this recorder are refused rather than silently ignored.
std::optional<std::string> CheckFaults(const emu::RecorderConfig& r,
                                       const std::set<std::string>& given) {
  for (const char* nandOnly : {"--verdict", "--corrupt-readback"}) {
    if (given.count(nandOnly) && !TakesNandRoute(r)) {
      return std::string(nandOnly) +
             " acts only on the NAND route: --route usb or both with --boot-loader 0.x";
    }
  }
  if (given.count("--replug-after") && !given.count("--unplug-at")) {
    return "--replug-after goes with --unplug-at";
  }
  if (given.count("--attach-after") && r.route == StartRoute::kNone) {
    return "--attach-after needs a recorder: not with --route none";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ParseSimOptions(int argc, const char* const* argv, SimOptions& out) {
  std::set<std::string> given;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) {
      out.programArguments.push_back(arg);
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    const size_t equals = arg.find('=');
    if (equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    }
    auto it = Options().find(name);
    if (it == Options().end()) return "unknown option " + name + " (see --help)";
    given.insert(name);
    const OptionSpec& spec = it->second;
    if (!spec.takesValue) {
      if (value) return name + " takes no value";
      spec.handle("", out);
      continue;
    }
    if (!value) {
      if (i + 1 >= argc) return name + " needs a value: " + spec.expected;
      value = argv[++i];
    }
    if (!spec.handle(*value, out)) {
      return "bad value '" + *value + "' for " + name + ": expected " + spec.expected;
    }
  }
  if (auto error = CheckSlots(out.recorder)) return error;
  return CheckFaults(out.recorder, given);
}

#define OMR72_SIM_MODEL_OPTIONS                                                                 \
  "Recorder and host:\n"                                                                        \
  "  --route usb|disk|both|none  where the recorder is at start (default disk)\n"               \
  "  --boot-loader M.m           installed boot-loader version (default 1.0; 0.0: none)\n"      \
  "  --boot-loader-silent        the boot-loader version request fails\n"                       \
  "  --firmware M.m|none         installed firmware version (default 1.5)\n"                    \
  "  --serial TEXT               serial number, at most 20 bytes (default ABCDE12345)\n"        \
  "  --model-tag TAG             5-byte model tag (default: the embedded image's tag)\n"        \
  "  --drive N, --usb-name N     drive digit and ezusb-N of the recorder (defaults 1, 0)\n"     \
  "  --foreign-disk N            a foreign disk at drive N (repeatable)\n"                      \
  "  --foreign-usb N             a USB device with other ids at ezusb-N (repeatable)\n"         \
  "  --attach-after N            the recorder appears after N presence polls (default 0;\n"     \
  "                              not with --route none)\n"                                      \
  "Faults:\n"                                                                                   \
  "  --fail-command N            the N-th traced command fails (repeatable; from 1)\n"          \
  "  --no-return                 after its next restart the recorder never comes back\n"        \
  "  --verdict 1|0|fail          the boot-block verdict (default 1); NAND route only\n"         \
  "  --corrupt-readback          the NAND read-back differs in one byte; NAND route only\n"     \
  "                              (NAND route: --route usb or both, --boot-loader 0.x)\n"        \
  "  --unplug-at N               the recorder leaves the bus just before the N-th traced\n"     \
  "                              command and comes back --replug-after P presence polls\n"      \
  "                              later (default 3) in the mode its flash implies\n"             \
  "  --reply-fuzz SEED           identification replies (INQUIRY, flash parameters,\n"          \
  "                              versions, serial, the 0x29F9 block) from a seeded generator\n" \
  "Output:\n"                                                                                   \
  "  --trace FILE                one line per request that reaches a device\n"                  \
  "  --state FILE                the recorder's state at exit, as JSON\n"                       \
  "  --latency realistic|none    device timing (default: realistic on a terminal)\n"            \
  "  --help                      this text\n"

const char kSimModelOptionsHelp[] = OMR72_SIM_MODEL_OPTIONS;

const char kSimUsage[] =
    "Usage: omr72-sim [OPTION]... [WORD]...\n"
    "Runs the Orlo Mica R72 firmware updater against an emulated recorder.\n"
    "Keys come from the terminal, or from standard input when it is not a terminal.\n"
    "Words are handed to the updater: a lone, exact diag makes it accept any recorder; any\n"
    "other word is a normal run, and a word that starts with - is refused (exit code 2).\n"
    "\n" OMR72_SIM_MODEL_OPTIONS
    "  --payloads PATH             the updater's payloads: the maker's Windows updater or a\n"
    "                              folder with FWC.bin, BRC.bin and BRC20.bin (see\n"
    "                              omr72-updater --help); the recorder knows them too\n"
    "  --version                   the program's version\n"
    "Tests:\n"
    "  --pause-at N                stop the process (SIGSTOP) after command N, where a test\n"
    "                              can send it signals before it goes on (not on Windows)\n";

}  // namespace omr72::sim
