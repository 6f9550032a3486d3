// Windows. Loads the executable named on the command line the way an outside program would,
// finds the five page-access functions by name, and calls them where no recorder is attached:
// only the failure paths and the empty requests can succeed there. The lookup by ordinal, the
// absent ordinals and names, and the standard-call stack check are the Windows test bed's
// (testbeds/windows/q71_standin_client.c, with a recorder behind the calls).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "scsilink/q71.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::printf("FAILED: %s\n", what);
  ++failures;
}

// A path from the Linux side, when run under wine, is reached through drive Z:.
std::string WindowsPath(const char* path) {
  std::string p = path;
  if (p.empty() || p[0] != '/') return p;
  for (char& c : p)
    if (c == '/') c = '\\';
  return "Z:" + p;
}

template <typename Fn>
Fn Find(HMODULE module, const char* name) {
  FARPROC byName = GetProcAddress(module, name);
  Check(byName != nullptr, name);
  // Through void(*)(), the generic function pointer type, so the cast is not flagged.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(byName));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: q71_load_test EXE\n");
    return 2;
  }
  const std::string path = WindowsPath(argv[1]);
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    std::printf("FAILED: LoadLibraryA(%s), error %lu\n", path.c_str(), GetLastError());
    return 1;
  }
  auto isConnected = Find<Q71_IsConnectedFn>(module, "Q71_IsConnected");
  auto getFlashParams = Find<Q71_GetFlashParamsFn>(module, "Q71_GetFlashParams");
  auto readPages = Find<Q71_ReadPagesFn>(module, "Q71_ReadPages");
  auto writePages = Find<Q71_WritePagesFn>(module, "Q71_WritePages");
  auto readParts = Find<Q71_ReadPartsOfPagesFn>(module, "Q71_ReadPartsOfPages");
  if (failures != 0) return 1;

  unsigned char params[Q71_FLASH_PARAMS_SIZE];
  std::memset(params, 0x3C, sizeof params);
  unsigned char buffer[4096] = {};
  Check(isConnected() == 0, "Q71_IsConnected finds no recorder");
  Check(getFlashParams(params) == 0, "Q71_GetFlashParams fails");
  bool untouched = true;
  for (unsigned char b : params) untouched = untouched && b == 0x3C;
  Check(untouched, "Q71_GetFlashParams leaves the buffer untouched");
  Check(readPages(0, buffer, 0) == 1, "Q71_ReadPages of 0 pages succeeds");
  Check(readPages(0, buffer, 1) == 0, "Q71_ReadPages without a page size fails");
  Check(writePages(0, buffer, 1) == 0, "Q71_WritePages without a page size fails");
  Check(readParts(0, 4, 0, 0, 1, buffer) == 0, "Q71_ReadPartsOfPages of part size 0 fails");
  Check(readParts(0, 4, 0, 16, 1, buffer) == 0, "Q71_ReadPartsOfPages without recorder fails");
  FreeLibrary(module);
  std::printf(failures == 0 ? "all passed\n" : "%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
