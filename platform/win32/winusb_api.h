// Windows: the SetupAPI, WinUSB and kernel32 calls the WinUSB backend makes, as one table of
// function pointers.
//
// setupapi.dll and winusb.dll are loaded when the backend is first used, not imported: the
// executable's import table stays as the export tests and BindOwnImports know it, and the
// program starts on a Windows without them (the EZ-USB and disk routes need neither). The
// kernel32 calls go through the table too, so that a test can stand in for every call the
// backend makes.
#pragma once

#include <windows.h>
// windows.h first: these need its types.
#include <setupapi.h>
#include <winusb.h>

namespace omr72 {

struct WinUsbApi {
  // setupapi.dll
  HDEVINFO(WINAPI* getClassDevs)(const GUID*, PCSTR, HWND, DWORD) = nullptr;
  BOOL(WINAPI* enumDeviceInterfaces)
  (HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA) = nullptr;
  BOOL(WINAPI* getDeviceInterfaceDetail)
  (HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
   PSP_DEVINFO_DATA) = nullptr;
  BOOL(WINAPI* getDeviceRegistryProperty)
  (HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD) = nullptr;
  BOOL(WINAPI* destroyDeviceInfoList)(HDEVINFO) = nullptr;
  // winusb.dll
  BOOL(WINAPI* initialize)(HANDLE, PWINUSB_INTERFACE_HANDLE) = nullptr;
  BOOL(WINAPI* free)(WINUSB_INTERFACE_HANDLE) = nullptr;
  BOOL(WINAPI* getDescriptor)
  (WINUSB_INTERFACE_HANDLE, UCHAR, UCHAR, USHORT, PUCHAR, ULONG, PULONG) = nullptr;
  BOOL(WINAPI* controlTransfer)
  (WINUSB_INTERFACE_HANDLE, WINUSB_SETUP_PACKET, PUCHAR, ULONG, PULONG, LPOVERLAPPED) = nullptr;
  BOOL(WINAPI* readPipe)
  (WINUSB_INTERFACE_HANDLE, UCHAR, PUCHAR, ULONG, PULONG, LPOVERLAPPED) = nullptr;
  BOOL(WINAPI* writePipe)
  (WINUSB_INTERFACE_HANDLE, UCHAR, PUCHAR, ULONG, PULONG, LPOVERLAPPED) = nullptr;
  BOOL(WINAPI* queryInterfaceSettings)
  (WINUSB_INTERFACE_HANDLE, UCHAR, PUSB_INTERFACE_DESCRIPTOR) = nullptr;
  BOOL(WINAPI* queryPipe)
  (WINUSB_INTERFACE_HANDLE, UCHAR, UCHAR, PWINUSB_PIPE_INFORMATION) = nullptr;
  BOOL(WINAPI* setPipePolicy)(WINUSB_INTERFACE_HANDLE, UCHAR, ULONG, ULONG, PVOID) = nullptr;
  // kernel32.dll
  HANDLE(WINAPI* createFile)
  (LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = nullptr;
  BOOL(WINAPI* closeHandle)(HANDLE) = nullptr;
  ULONGLONG(WINAPI* tickCount)() = nullptr;

  // Whether every call is there; the backend serves nothing otherwise.
  bool Complete() const;
};

// The system's table, loaded on the first call; incomplete when a library or a call is missing.
const WinUsbApi& SystemWinUsbApi();

}  // namespace omr72
