#include "updater/command_line.h"

#include <cstring>
#include <vector>

namespace omr72 {

const char kUpdaterUsage[] =
    "Usage: omr72-updater [--payloads PATH] [diag]\n"
    "Updates the firmware of an Orlo Mica R72 voice recorder attached over USB.\n"
    "\n"
    "  --payloads PATH  the firmware and boot loaders to load, instead of the ones built in:\n"
    "                   the maker's Windows updater (OMR72_FW_Updater.exe), read as data and\n"
    "                   never run, or a folder holding FWC.bin, BRC.bin and BRC20.bin. They\n"
    "                   are checked before anything starts; payloads that do not look like\n"
    "                   R72 firmware are refused (exit code 2) before any device is touched.\n"
    "  diag             the only word: accept any recorder as compatible. Any other word, or\n"
    "                   diag with another word, is ignored: a normal run.\n"
    "  --help           this text\n"
    "  --version        the program's version\n"
    "\n"
    "Exit codes: 0 when the run ended (updated or not), 1 when another recorder application\n"
    "is running, 2 when the command line or the payloads are refused.\n";

std::string ProgramName(const char* argv0) {
  const std::string path = argv0 != nullptr ? argv0 : "";
  const size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? "omr72-updater" : name;
}

CommandLine ParseCommandLine(int argc, char** argv, ArgumentConvention convention) {
  CommandLine line;
  std::vector<std::string> words;
  const bool posix = convention == ArgumentConvention::kPosix;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const std::string arg = argv[i];
    if (arg == "--payloads" || arg.rfind("--payloads=", 0) == 0) {
      std::string path;
      if (arg == "--payloads") {
        if (i + 1 >= argc || argv[i + 1] == nullptr) {
          line.refusal = "--payloads needs a path: the maker's updater or a folder";
          return line;
        }
        path = argv[++i];
      } else {
        path = arg.substr(std::strlen("--payloads="));
      }
      if (path.empty() || line.payloads) {
        line.refusal = path.empty() ? "--payloads needs a path: the maker's updater or a folder"
                                    : "--payloads given twice";
        return line;
      }
      line.payloads = path;
      continue;
    }
    if (posix && arg == "--help") {
      line.help = true;
      continue;
    }
    if (posix && arg == "--version") {
      line.version = true;
      continue;
    }
    if (posix && !arg.empty() && arg[0] == '-') {
      line.refusal = "unknown option " + arg + " (see --help)";
      return line;
    }
    words.push_back(arg);
  }
  // Every argument but --payloads is a word here: without it, exactly the single argument.
  line.diagnostic = words.size() == 1 && words[0] == "diag";
  return line;
}

}  // namespace omr72
