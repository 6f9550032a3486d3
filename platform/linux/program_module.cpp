// Linux: the running program and the payloads linked into it.
//
// There are no Win32 resources on Linux. A program that wants the images links the payload
// object made by omr72_embed_payloads (images/CMakeLists.txt), which defines
// EmbeddedRcData(). Programs without it still link: the weak reference is then null and no
// resource is found. The module path is not needed to find the payloads, since they are part
// of the program that is running.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/native.h"
#include "platform/pe_resources.h"

namespace omr72 {

// The payload table of this program, or nullptr for a name it does not hold.
[[gnu::weak, gnu::visibility("hidden")]] const uint8_t* EmbeddedRcData(const char* name,
                                                                       size_t& size);

namespace {

// Far more than any build of the updater; a larger file is not read into memory.
constexpr off_t kMaxExecutableSize = off_t{256} << 20;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// The whole regular file at `path`; an empty text, or why not.
std::string ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  // O_NONBLOCK: a FIFO or device given by mistake must not hang the open.
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.Get() < 0) return std::strerror(errno);
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) return std::strerror(errno);
  if (!S_ISREG(status.st_mode)) return "not a regular file";
  if (status.st_size > kMaxExecutableSize) return "too large for a build of the updater";
  bytes.resize(static_cast<size_t>(status.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = read(file.Get(), bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::strerror(errno);
    if (got == 0) return "the file shrank while it was read";
    done += static_cast<size_t>(got);
  }
  return {};
}

class LinuxProgramModule : public ProgramModule {
 public:
  std::string Path(const char* argv0) override {
    char buffer[kMaxModulePath + 1];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    std::string path = length > 0 ? std::string(buffer, static_cast<size_t>(length))
                                  : std::string(argv0 != nullptr ? argv0 : "");
    if (path.size() > kMaxModulePath) path.resize(kMaxModulePath);
    return path;
  }

  bool LoadRcData(const std::string& /*modulePath*/, const char* name, uint8_t* out,
                  size_t size) override {
    if (EmbeddedRcData == nullptr || name == nullptr) return false;
    size_t stored = 0;
    const uint8_t* data = EmbeddedRcData(name, stored);
    if (data == nullptr || stored < size) return false;
    std::memcpy(out, data, size);
    return true;
  }

  std::string LoadFileRcData(const std::string& path, const char* name,
                             std::vector<uint8_t>& out) override {
    std::vector<uint8_t> file;
    if (std::string problem = ReadWholeFile(path, file); !problem.empty()) return problem;
    pe::ResourceResult found = pe::FindRcData(file, name);
    if (!found.bytes) return found.problem;
    out = std::move(*found.bytes);
    return {};
  }
};

}  // namespace

ArgumentConvention NativePlatform::CommandLineConvention() {
  return ArgumentConvention::kPosix;
}

std::unique_ptr<ProgramModule> NativePlatform::MakeProgramModule() {
  return std::make_unique<LinuxProgramModule>();
}

}  // namespace omr72
