// omr72-pages: reads and writes the recorder's flash pages through the page-access library.
// Linux only. It knows the library through scsilink/q71.h alone and loads it at run time:
// libomr72.so for a real recorder, or libomr72-emulated.so with --emulated, from the folder
// the program itself is in, else from ../lib beside it, else wherever dlopen finds it
// (LD_LIBRARY_PATH, the system's).
//
//   omr72-pages [--emulated] info
//   omr72-pages [--emulated] read FIRST COUNT FILE
//   omr72-pages [--emulated] write FIRST FILE
//   omr72-pages --help | --version
//
// Exit code 0 on success (and for --help, --version), 2 for a refused command line, else 1.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "scsilink/q71.h"
#include "tools/output/output_file.h"

namespace {

constexpr uint32_t kMaxBytesPerCall = 65536;
constexpr uint64_t kPageNumbers = uint64_t{1} << 32;

struct Library {
  std::unique_ptr<void, int (*)(void*)> handle{nullptr, &dlclose};
  Q71_IsConnectedFn isConnected = nullptr;
  Q71_GetFlashParamsFn getFlashParams = nullptr;
  Q71_ReadPagesFn readPages = nullptr;
  Q71_WritePagesFn writePages = nullptr;
};

struct FlashInfo {
  uint8_t record[Q71_FLASH_PARAMS_SIZE];
  uint16_t pageSize() const {
    uint16_t v;
    std::memcpy(&v, record + 14, sizeof v);
    return v;
  }
};

void Fail(const std::string& message) {
  std::fprintf(stderr, "omr72-pages: %s\n", message.c_str());
}

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(dlsym(handle, name));
  if (fn == nullptr) Fail(std::string("the library has no ") + name);
  return fn != nullptr;
}

std::string OwnFolder() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  const std::string self(path, static_cast<size_t>(n));
  return self.substr(0, self.rfind('/') + 1);
}

bool Load(const char* name, Library& lib) {
  // Beside the tool (the build tree), in ../lib (an installed prefix), else the system's way.
  for (const std::string& path : {OwnFolder() + name, OwnFolder() + "../lib/" + name}) {
    if (!lib.handle) lib.handle.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  }
  if (!lib.handle) lib.handle.reset(dlopen(name, RTLD_NOW | RTLD_LOCAL));
  if (!lib.handle) {
    Fail(std::string("cannot load ") + name + ": " + dlerror());
    return false;
  }
  void* h = lib.handle.get();
  return Resolve(h, "Q71_IsConnected", lib.isConnected) &&
         Resolve(h, "Q71_GetFlashParams", lib.getFlashParams) &&
         Resolve(h, "Q71_ReadPages", lib.readPages) && Resolve(h, "Q71_WritePages", lib.writePages);
}

// The calling order every command needs: find the recorder, then learn its page size.
bool Connect(const Library& lib, FlashInfo& info) {
  if (lib.isConnected() != 1) {
    Fail("no recorder found on drives 0 to 8");
    return false;
  }
  if (lib.getFlashParams(info.record) != 1) {
    Fail("the recorder did not return its flash parameters");
    return false;
  }
  if (info.pageSize() == 0) {
    Fail("the recorder reports a page size of 0");
    return false;
  }
  return true;
}

bool ParseNumber(const char* text, uint64_t max, uint64_t& value) {
  if (*text == '\0' || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0' || v > max) return false;
  value = v;
  return true;
}

class Progress {
 public:
  Progress(const char* verb, uint64_t total) : verb_(verb), total_(total) {}
  ~Progress() {
    if (shown_) std::fputc('\n', stderr);
  }
  void Show(uint64_t done) {
    if (!isatty(STDERR_FILENO)) return;
    std::fprintf(stderr, "\r%s %llu of %llu pages", verb_, static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total_));
    shown_ = true;
  }

 private:
  const char* verb_;
  uint64_t total_;
  bool shown_ = false;
};

// The serial number as the updater shows it: up to the first NUL, every byte outside printable
// ASCII shown as '?', so that the terminal never receives control bytes from the recorder.
std::string PrintableSerial(const uint8_t* bytes, size_t size) {
  std::string text;
  for (size_t i = 0; i < size && bytes[i] != 0; ++i) {
    text.push_back(bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '?');
  }
  return text;
}

int Info(const Library& lib) {
  if (lib.isConnected() != 1) {
    std::printf("connected: no\n");
    return 1;
  }
  std::printf("connected: yes\n");
  FlashInfo info;
  if (lib.getFlashParams(info.record) != 1) {
    Fail("the recorder did not return its flash parameters");
    return 1;
  }
  uint32_t param1;
  uint16_t param11;
  std::memcpy(&param1, info.record + 1, sizeof param1);
  std::memcpy(&param11, info.record + 11, sizeof param11);
  const std::string serial = PrintableSerial(info.record + 17, 20);
  std::printf("page size: %u\n", info.pageSize());
  std::printf("serial number: %s\n", serial.c_str());
  std::printf("firmware version: %d.%d\n", info.record[39], info.record[38]);
  std::printf("flash parameter at offset 1: %u\n", param1);
  std::printf("flash parameter at offset 11: %u\n", param11);
  return 0;
}

// Pages per library call: as many as one 64 KiB command carries, at least one.
uint32_t PagesPerCall(uint16_t pageSize) {
  const uint32_t n = kMaxBytesPerCall / pageSize;
  return n == 0 ? 1 : n;
}

// The pages go to a new file beside FILE, renamed over it only when all were read: a failure
// leaves what was there as it was, and a device node or other special file is never touched.
int Read(const Library& lib, uint32_t first, uint64_t count, const char* path) {
  omr72::tools::OutputFile file;
  if (auto problem = file.Open(path)) {
    Fail(*problem);
    return 1;
  }
  FlashInfo info;
  if (!Connect(lib, info)) return 1;
  const uint32_t step = PagesPerCall(info.pageSize());
  std::vector<uint8_t> buffer(size_t{step} * info.pageSize());
  Progress progress("read", count);
  bool ok = true;
  for (uint64_t done = 0; ok && done < count; done += step) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(step, count - done));
    const uint32_t page = static_cast<uint32_t>(first + done);
    if (lib.readPages(page, buffer.data(), n) != 1) {
      Fail("reading " + std::to_string(n) + " pages from page " + std::to_string(page) + " failed");
      ok = false;
    } else if (auto problem = file.Write(
                   {reinterpret_cast<const char*>(buffer.data()), size_t{n} * info.pageSize()})) {
      Fail(*problem);
      ok = false;
    }
    progress.Show(done + (ok ? n : 0));
  }
  if (!ok) return 1;  // the new file goes; what was at FILE stays
  if (auto problem = file.Commit()) {
    Fail(*problem);
    return 1;
  }
  return 0;
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>& data) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
  if (!file) {
    Fail(std::string(path) + ": " + std::strerror(errno));
    return false;
  }
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
    data.insert(data.end(), chunk, chunk + n);
  if (std::ferror(file.get())) {
    Fail(std::string(path) + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

int Write(const Library& lib, uint32_t first, const char* path) {
  std::vector<uint8_t> data;
  if (!ReadWholeFile(path, data)) return 1;
  FlashInfo info;
  if (!Connect(lib, info)) return 1;
  const uint16_t pageSize = info.pageSize();
  if (data.empty() || data.size() % pageSize != 0) {
    Fail(std::string(path) + " is " + std::to_string(data.size()) +
         " bytes, not a whole number of " + std::to_string(pageSize) + "-byte pages");
    return 1;
  }
  const uint64_t count = data.size() / pageSize;
  if (first + count > kPageNumbers) {
    Fail("the pages would run past the last page number");
    return 1;
  }
  const uint32_t step = PagesPerCall(pageSize);
  Progress progress("written", count);
  for (uint64_t done = 0; done < count; done += step) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(step, count - done));
    const uint32_t page = static_cast<uint32_t>(first + done);
    if (lib.writePages(page, data.data() + done * pageSize, n) != 1) {
      Fail("writing " + std::to_string(n) + " pages at page " + std::to_string(page) + " failed; " +
           std::to_string(done) + " pages before it were written");
      return 1;
    }
    progress.Show(done + n);
  }
  return 0;
}

constexpr char kUsage[] =
    "usage: omr72-pages [--emulated] info\n"
    "       omr72-pages [--emulated] read FIRST COUNT FILE\n"
    "       omr72-pages [--emulated] write FIRST FILE\n"
    "       omr72-pages --help | --version\n"
    "FIRST is a page number, COUNT a number of pages; FILE holds whole pages.\n"
    "--emulated works on an emulated recorder instead of the attached one.\n";

// A refused command line: one line on stderr, exit code 2.
int Refuse(const std::string& problem) {
  Fail(problem + " (see --help)");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("omr72-pages %s\n", OMR72_VERSION);
    return 0;
  }
  bool emulated = false;
  if (!args.empty() && args[0] == "--emulated") {
    emulated = true;
    args.erase(args.begin());
  }
  if (args.empty()) return Refuse("no command");
  const std::string& command = args[0];
  uint64_t first = 0;
  uint64_t count = 0;
  if (command == "info") {
    if (args.size() != 1) return Refuse("info takes no arguments");
  } else if (command == "read") {
    if (args.size() != 4) return Refuse("read needs FIRST COUNT FILE");
    if (!ParseNumber(args[1].c_str(), kPageNumbers - 1, first) ||
        !ParseNumber(args[2].c_str(), kPageNumbers, count) || count == 0 ||
        first + count > kPageNumbers) {
      Fail("FIRST and COUNT must name pages between 0 and 4294967295, COUNT at least 1");
      return 2;
    }
  } else if (command == "write") {
    if (args.size() != 3) return Refuse("write needs FIRST FILE");
    if (!ParseNumber(args[1].c_str(), kPageNumbers - 1, first)) {
      Fail("FIRST must be a page number between 0 and 4294967295");
      return 2;
    }
  } else {
    return Refuse("unknown command '" + command + "'");
  }

  Library lib;
  if (!Load(emulated ? "libomr72-emulated.so" : "libomr72.so", lib)) return 1;
  if (command == "info") return Info(lib);
  if (command == "read") return Read(lib, static_cast<uint32_t>(first), count, args[3].c_str());
  return Write(lib, static_cast<uint32_t>(first), args[2].c_str());
}
