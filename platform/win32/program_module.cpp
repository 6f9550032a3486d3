// Windows: the running executable and its RCDATA resources.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/native.h"

namespace omr72 {

namespace {

constexpr WORD kRcDataType = 10;  // RT_RCDATA

// The module opened by path for one resource fetch; freed when the fetch is over.
class LoadedLibrary {
 public:
  explicit LoadedLibrary(const std::string& path) : module_(LoadLibraryA(path.c_str())) {}
  ~LoadedLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // Null when the path could not be opened: the resource calls then search the running
  // executable itself, which is where the images are anyway.
  HMODULE Get() const { return module_; }

 private:
  HMODULE module_;
};

class Win32ProgramModule : public ProgramModule {
 public:
  std::string Path(const char* /*argv0*/) override {
    char buffer[kMaxModulePath + 2] = {};
    DWORD length = GetModuleFileNameA(nullptr, buffer, kMaxModulePath + 1);
    return std::string(buffer, std::min<size_t>(length, kMaxModulePath));
  }

  bool LoadRcData(const std::string& modulePath, const char* name, uint8_t* out,
                  size_t size) override {
    LoadedLibrary library(modulePath);
    HMODULE module = library.Get();
    HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(kRcDataType));
    if (found == nullptr) return false;
    // A short resource is never copied from: the copy below reads `size` bytes.
    if (SizeofResource(module, found) < size) return false;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return false;
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return false;
    std::memcpy(out, bytes, size);
    return true;
  }
};

}  // namespace

std::unique_ptr<ProgramModule> NativePlatform::MakeProgramModule() {
  return std::make_unique<Win32ProgramModule>();
}

}  // namespace omr72
