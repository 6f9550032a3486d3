// The running program's own executable: its path and its embedded RCDATA resources.
//
// Backend contract:
// - Path(argv0) gives the full path of the running executable, at most 255 characters
//   (GetModuleFileNameA with no module on Windows, /proc/self/exe on Linux).
// - LoadRcData(modulePath, name, out, size) copies the first `size` bytes of the RCDATA
//   resource `name` into `out`. It returns false, leaving `out` untouched, when the resource
//   is missing or holds fewer than `size` bytes; it never copies from such a resource.
//   On Windows the module is opened by path and, when that fails, the running executable is
//   searched instead (a null module handle).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace omr72 {

constexpr size_t kMaxModulePath = 255;

class ProgramModule {
 public:
  virtual ~ProgramModule() = default;
  virtual std::string Path(const char* argv0) = 0;
  virtual bool LoadRcData(const std::string& modulePath, const char* name, uint8_t* out,
                          size_t size) = 0;
};

}  // namespace omr72
