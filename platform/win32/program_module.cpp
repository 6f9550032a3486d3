// Windows: the running executable and its RCDATA resources.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/native.h"

namespace omr72 {

namespace {

constexpr WORD kRcDataType = 10;  // RT_RCDATA

// The module opened by path for one resource fetch; freed when the fetch is over.
class LoadedLibrary {
 public:
  explicit LoadedLibrary(const std::string& path) : module_(LoadLibraryA(path.c_str())) {}
  // Another program's file, mapped as data: nothing of it runs and its imports stay unbound.
  LoadedLibrary(const std::string& path, DWORD flags)
      : module_(LoadLibraryExA(path.c_str(), nullptr, flags)) {}
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

// The system's text for an error code, on one line.
std::string ErrorText(DWORD code) {
  char buffer[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, sizeof buffer, nullptr);
  while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r' ||
                        buffer[length - 1] == '.' || buffer[length - 1] == ' ')) {
    --length;
  }
  if (length > 0) return std::string(buffer, length);
  std::snprintf(buffer, sizeof buffer, "Windows error %lu", static_cast<unsigned long>(code));
  return buffer;
}

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

  std::string LoadFileRcData(const std::string& path, const char* name,
                             std::vector<uint8_t>& out) override {
    // Unlike the program's own module, a failed open must not fall back to the running
    // executable: its resources are not the ones asked for.
    LoadedLibrary library(path, LOAD_LIBRARY_AS_DATAFILE);
    HMODULE module = library.Get();
    if (module == nullptr) return ErrorText(GetLastError());
    HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(kRcDataType));
    if (found == nullptr) return std::string("no RCDATA resource named ") + name;
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return std::string("the resource ") + name + " cannot be read";
    const auto* first = static_cast<const uint8_t*>(bytes);
    out.assign(first, first + size);
    return {};
  }
};

}  // namespace

ArgumentConvention NativePlatform::CommandLineConvention() {
  return ArgumentConvention::kWindows;
}

std::unique_ptr<ProgramModule> NativePlatform::MakeProgramModule() {
  return std::make_unique<Win32ProgramModule>();
}

}  // namespace omr72
