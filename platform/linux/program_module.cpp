// Linux: the running program and the payloads linked into it.
//
// There are no Win32 resources on Linux. A program that wants the images links the payload
// object made by omr72_embed_payloads (images/CMakeLists.txt), which defines
// EmbeddedRcData(). Programs without it still link: the weak reference is then null and no
// resource is found. The module path is not needed to find the payloads, since they are part
// of the program that is running.
#include <unistd.h>

#include <cstring>

#include "platform/native.h"

namespace omr72 {

// The payload table of this program, or nullptr for a name it does not hold.
[[gnu::weak, gnu::visibility("hidden")]] const uint8_t* EmbeddedRcData(const char* name,
                                                                       size_t& size);

namespace {

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
};

}  // namespace

std::unique_ptr<ProgramModule> NativePlatform::MakeProgramModule() {
  return std::make_unique<LinuxProgramModule>();
}

}  // namespace omr72
