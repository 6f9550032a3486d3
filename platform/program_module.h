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
// - LoadFileRcData(path, name, out) reads the RCDATA resource `name` of another executable
//   file, whole, into `out`: the file is read as data, never run (on Windows a module loaded
//   with LOAD_LIBRARY_AS_DATAFILE, on Linux the bounds-checked reader of pe_resources.h). It
//   returns an empty text on success, else the reason, one line without the path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace omr72 {

constexpr size_t kMaxModulePath = 255;

class ProgramModule {
 public:
  virtual ~ProgramModule() = default;
  virtual std::string Path(const char* argv0) = 0;
  virtual bool LoadRcData(const std::string& modulePath, const char* name, uint8_t* out,
                          size_t size) = 0;
  virtual std::string LoadFileRcData(const std::string& path, const char* name,
                                     std::vector<uint8_t>& out) {
    (void)path;
    (void)name;
    (void)out;
    return "this platform cannot read another program's resources";
  }
};

}  // namespace omr72
