// omr72-probe: why is my recorder (not) found? Scans both routes on this machine and prints,
// for each of the nine USB names and nine drive names, what stands there and why it is or is
// not the recorder, then the access each route needs. It reads device descriptors and INQUIRY
// data only and never writes to a device.
//
//   omr72-probe                          this machine
//   omr72-probe --emulated [--route R]   the emulated host (R: usb, disk, both or none)
//   omr72-probe --help | --version
//
// Exit code 0 when the recorder was found on a route, 1 when not, 2 for a refused command line.
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/probe/emulated_survey.h"
#include "tools/probe/probe.h"

namespace {

constexpr char kUsage[] =
    "usage: omr72-probe [--emulated [--route usb|disk|both|none]]\n"
    "       omr72-probe --help | --version\n"
    "Scans both routes for the Orlo Mica R72 and says, for each USB name and drive, what\n"
    "stands there and why it is or is not the recorder, and what access each route needs.\n"
    "Reads device descriptors and INQUIRY data only. --emulated scans the emulated host\n"
    "(a foreign disk on drive 0, a foreign USB device at ezusb-1, the recorder on the route\n"
    "given, disk by default). Exit code 0 when the recorder was found, 1 when not.\n";

int Refuse(const std::string& problem) {
  std::fprintf(stderr, "omr72-probe: %s (see --help)\n", problem.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace omr72;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("omr72-probe %s\n", OMR72_VERSION);
    return 0;
  }
  const std::map<std::string, emu::StartRoute> routes = {{"usb", emu::StartRoute::kUsb},
                                                         {"disk", emu::StartRoute::kDisk},
                                                         {"both", emu::StartRoute::kBoth},
                                                         {"none", emu::StartRoute::kNone}};
  std::unique_ptr<DeviceSurvey> survey;
  if (args.empty()) {
    survey = MakeNativeDeviceSurvey();
  } else if (args[0] != "--emulated") {
    return Refuse("unknown argument '" + args[0] + "'");
  } else if (args.size() == 1) {
    survey = std::make_unique<probe::EmulatedSurvey>(emu::StartRoute::kDisk);
  } else if (args.size() == 3 && args[1] == "--route" && routes.count(args[2]) != 0) {
    survey = std::make_unique<probe::EmulatedSurvey>(routes.at(args[2]));
  } else {
    return Refuse("--emulated takes only --route usb|disk|both|none");
  }

  const std::vector<probe::Finding> usb = probe::ProbeUsbNames(*survey);
  const std::vector<probe::Finding> drives = probe::ProbeDrives(*survey);
  std::fputs(probe::Report(*survey, usb, drives).c_str(), stdout);
  for (const auto* findings : {&usb, &drives}) {
    for (const probe::Finding& f : *findings) {
      if (f.recorder) return 0;
    }
  }
  return 1;
}
