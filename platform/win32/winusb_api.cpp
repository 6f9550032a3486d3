// Windows: SystemWinUsbApi, the WinUSB backend's calls looked up at run time.
#include "platform/win32/winusb_api.h"

namespace omr72 {
namespace {

template <typename Fn>
void Find(HMODULE module, const char* name, Fn& fn) {
  if (module == nullptr) return;
  // GetProcAddress returns every function as FARPROC; the table holds each one's real type.
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

using LoadLibraryExAFn = HMODULE(WINAPI*)(LPCSTR, HANDLE, DWORD);

// From the system folder only, so that a DLL of the same name beside the program or in the
// working folder is never loaded. The flag needs Windows 8, or 7 with KB2533623; without it
// the load fails and the USB route is left to the EZ-USB driver, which those systems can load.
// LoadLibraryExA itself is looked up too: the executable imports nothing new.
HMODULE LoadSystemLibrary(HMODULE kernel32, const char* name) {
  LoadLibraryExAFn load = nullptr;
  Find(kernel32, "LoadLibraryExA", load);
  return load != nullptr ? load(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) : nullptr;
}

WinUsbApi Load() {
  WinUsbApi api;
  // Loaded once and kept for the process, like an import.
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  HMODULE setupapi = LoadSystemLibrary(kernel32, "setupapi.dll");
  HMODULE winusb = LoadSystemLibrary(kernel32, "winusb.dll");
  Find(setupapi, "SetupDiGetClassDevsA", api.getClassDevs);
  Find(setupapi, "SetupDiEnumDeviceInterfaces", api.enumDeviceInterfaces);
  Find(setupapi, "SetupDiGetDeviceInterfaceDetailA", api.getDeviceInterfaceDetail);
  Find(setupapi, "SetupDiGetDeviceRegistryPropertyA", api.getDeviceRegistryProperty);
  Find(setupapi, "SetupDiDestroyDeviceInfoList", api.destroyDeviceInfoList);
  Find(winusb, "WinUsb_Initialize", api.initialize);
  Find(winusb, "WinUsb_Free", api.free);
  Find(winusb, "WinUsb_GetDescriptor", api.getDescriptor);
  Find(winusb, "WinUsb_ControlTransfer", api.controlTransfer);
  Find(winusb, "WinUsb_ReadPipe", api.readPipe);
  Find(winusb, "WinUsb_WritePipe", api.writePipe);
  Find(winusb, "WinUsb_QueryInterfaceSettings", api.queryInterfaceSettings);
  Find(winusb, "WinUsb_QueryPipe", api.queryPipe);
  Find(winusb, "WinUsb_SetPipePolicy", api.setPipePolicy);
  Find(kernel32, "CreateFileA", api.createFile);
  Find(kernel32, "CloseHandle", api.closeHandle);
  Find(kernel32, "GetTickCount64", api.tickCount);
  return api;
}

}  // namespace

bool WinUsbApi::Complete() const {
  const void* calls[] = {reinterpret_cast<const void*>(getClassDevs),
                         reinterpret_cast<const void*>(enumDeviceInterfaces),
                         reinterpret_cast<const void*>(getDeviceInterfaceDetail),
                         reinterpret_cast<const void*>(getDeviceRegistryProperty),
                         reinterpret_cast<const void*>(destroyDeviceInfoList),
                         reinterpret_cast<const void*>(initialize),
                         reinterpret_cast<const void*>(free),
                         reinterpret_cast<const void*>(getDescriptor),
                         reinterpret_cast<const void*>(controlTransfer),
                         reinterpret_cast<const void*>(readPipe),
                         reinterpret_cast<const void*>(writePipe),
                         reinterpret_cast<const void*>(queryInterfaceSettings),
                         reinterpret_cast<const void*>(queryPipe),
                         reinterpret_cast<const void*>(setPipePolicy),
                         reinterpret_cast<const void*>(createFile),
                         reinterpret_cast<const void*>(closeHandle),
                         reinterpret_cast<const void*>(tickCount)};
  for (const void* call : calls) {
    if (call == nullptr) return false;
  }
  return true;
}

const WinUsbApi& SystemWinUsbApi() {
  static const WinUsbApi api = Load();
  return api;
}

}  // namespace omr72
