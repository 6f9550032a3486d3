// Windows. When another program loads the updater executable with LoadLibraryA to call its
// exports, the loader maps it but need not bind its imports nor run its start-up code: the
// import address table may still hold the names, and the first call of any imported function
// (CreateFileA, malloc, ...) would jump into the table itself. BindOwnImports binds them
// the way the loader would have before an export does anything else.
//
// Some loaders (wine's) also skip the base relocations of an executable mapped away from its
// preferred address; then every absolute address in the image is wrong, and the exports must
// refuse to run rather than write into another module's memory. That is detected first,
// through an anchor that holds its own address, before any absolute address is used.
//
// Nothing in this file may call an imported function before the table is bound: kernel32 is
// found through the process's module list and LoadLibraryA and GetProcAddress through its
// export directory. The file is built without library-call patterns for that reason.
#include <windows.h>
#include <winternl.h>

#include <cstdint>

#include "platform/own_imports.h"

// The start of this module's image, provided by the linker; of unknown size to the compiler.
extern "C" uint8_t __ImageBase[];
extern "C" void _pei386_runtime_relocator(void);

namespace omr72 {
namespace {

using LoadLibraryAFn = HMODULE(WINAPI*)(LPCSTR);
using GetProcAddressFn = FARPROC(WINAPI*)(HMODULE, LPCSTR);
using VirtualProtectFn = BOOL(WINAPI*)(LPVOID, SIZE_T, DWORD, PDWORD);

constexpr int kMaxForwards = 4;

const uint8_t* Rva(const void* base, DWORD rva) {
  return static_cast<const uint8_t*>(base) + rva;
}

const IMAGE_DATA_DIRECTORY& Directory(const void* base, int index) {
  const auto* dos = static_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(Rva(base, dos->e_lfanew));
  return nt->OptionalHeader.DataDirectory[index];
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(const char* a, const char* b) {
  while (*a != '\0' && Lower(*a) == Lower(*b)) ++a, ++b;
  return *a == '\0' && *b == '\0';
}

// omr72_reloc_anchor holds its own link-time address, which the loader's base relocations
// adjust. Its run-time address is taken relative to the instruction pointer, so it is right
// whether or not the relocations were applied.
#if defined(_WIN64)
asm(".section .text\n"
    ".p2align 3\n"
    "omr72_reloc_anchor: .quad omr72_reloc_anchor\n");
bool RelocationsApplied() {
  const uintptr_t* anchor;
  asm("leaq omr72_reloc_anchor(%%rip), %0" : "=r"(anchor));
  return *anchor == reinterpret_cast<uintptr_t>(anchor);
}
#else
asm(".section .text\n"
    ".p2align 2\n"
    "omr72_reloc_anchor: .long omr72_reloc_anchor\n");
bool RelocationsApplied() {
  const uintptr_t* anchor;
  asm("call 1f\n"
      "1: popl %0\n"
      "addl $(omr72_reloc_anchor - 1b), %0"
      : "=r"(anchor));
  return *anchor == reinterpret_cast<uintptr_t>(anchor);
}
#endif

// Read straight from the thread's segment: the header's NtCurrentTeb is an out-of-line
// import when the compiler does not inline it.
const PEB* CurrentPeb() {
  const PEB* peb;
#if defined(_WIN64)
  asm("movq %%gs:0x60, %0" : "=r"(peb));
#else
  asm("movl %%fs:0x30, %0" : "=r"(peb));
#endif
  return peb;
}

// The loaded module whose file name (without folder) is `name`, compared without case.
const void* FindLoadedModule(const char* name) {
  const PEB* peb = CurrentPeb();
  const LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
  for (const LIST_ENTRY* e = head->Flink; e != head; e = e->Flink) {
    const auto* entry = CONTAINING_RECORD(e, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
    const UNICODE_STRING& path = entry->FullDllName;
    const int length = path.Length / 2;
    int start = length;
    while (start > 0 && path.Buffer[start - 1] != L'\\' && path.Buffer[start - 1] != L'/') --start;
    int i = 0;
    while (start + i < length && name[i] != '\0' && path.Buffer[start + i] < 0x80 &&
           Lower(static_cast<char>(path.Buffer[start + i])) == Lower(name[i]))
      ++i;
    if (start + i == length && name[i] == '\0') return entry->DllBase;
  }
  return nullptr;
}

// An exported function of a loaded module by name, following forwarders such as
// "KERNELBASE.LoadLibraryA" to modules that are loaded already.
const void* FindExport(const void* module, const char* name, int forwards = 0) {
  if (module == nullptr || forwards > kMaxForwards) return nullptr;
  const IMAGE_DATA_DIRECTORY& dir = Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
  if (dir.VirtualAddress == 0) return nullptr;
  const auto* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(Rva(module, dir.VirtualAddress));
  const auto* names = reinterpret_cast<const DWORD*>(Rva(module, exports->AddressOfNames));
  const auto* ordinals = reinterpret_cast<const WORD*>(Rva(module, exports->AddressOfNameOrdinals));
  const auto* functions = reinterpret_cast<const DWORD*>(Rva(module, exports->AddressOfFunctions));
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    if (!SameText(reinterpret_cast<const char*>(Rva(module, names[i])), name)) continue;
    const DWORD rva = functions[ordinals[i]];
    if (rva < dir.VirtualAddress || rva >= dir.VirtualAddress + dir.Size) return Rva(module, rva);
    // A forwarder: "MODULE.Function".
    const char* text = reinterpret_cast<const char*>(Rva(module, rva));
    char target[MAX_PATH];
    int n = 0;
    while (text[n] != '\0' && text[n] != '.' && n < MAX_PATH - 5) target[n] = text[n], ++n;
    if (text[n] != '.') return nullptr;
    const char* function = text + n + 1;
    const char suffix[] = ".dll";
    for (int k = 0; k < 5; ++k) target[n + k] = suffix[k];
    return FindExport(FindLoadedModule(target), function, forwards + 1);
  }
  return nullptr;
}

// Import descriptors whose address table still equals their name table are unbound.
bool ImportsBound(const void* self) {
  const IMAGE_DATA_DIRECTORY& dir = Directory(self, IMAGE_DIRECTORY_ENTRY_IMPORT);
  if (dir.VirtualAddress == 0) return true;
  const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(Rva(self, dir.VirtualAddress));
  for (; d->Name != 0; ++d) {
    if (d->OriginalFirstThunk == 0) continue;
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(Rva(self, d->OriginalFirstThunk));
    const auto* table = reinterpret_cast<const IMAGE_THUNK_DATA*>(Rva(self, d->FirstThunk));
    if (names->u1.AddressOfData != 0 && names->u1.AddressOfData == table->u1.Function) return false;
  }
  return true;
}

bool BindDescriptor(uint8_t* self, const IMAGE_IMPORT_DESCRIPTOR& d, LoadLibraryAFn loadLibrary,
                    GetProcAddressFn getProcAddress, VirtualProtectFn virtualProtect) {
  HMODULE module = loadLibrary(reinterpret_cast<const char*>(self + d.Name));
  if (module == nullptr) return false;
  const DWORD namesRva = d.OriginalFirstThunk != 0 ? d.OriginalFirstThunk : d.FirstThunk;
  const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(self + namesRva);
  auto* table = reinterpret_cast<IMAGE_THUNK_DATA*>(self + d.FirstThunk);
  SIZE_T count = 0;
  while (names[count].u1.AddressOfData != 0) ++count;
  DWORD oldProtection = 0;
  if (!virtualProtect(table, count * sizeof *table, PAGE_READWRITE, &oldProtection)) return false;
  bool ok = true;
  for (SIZE_T i = 0; i < count; ++i) {
    const auto data = names[i].u1.AddressOfData;
    const char* symbol =
        IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)
            ? MAKEINTRESOURCEA(IMAGE_ORDINAL(names[i].u1.Ordinal))
            : reinterpret_cast<const char*>(
                  reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(self + data)->Name);
    FARPROC address = getProcAddress(module, symbol);
    if (address == nullptr) ok = false;
    table[i].u1.Function = reinterpret_cast<decltype(table[i].u1.Function)>(address);
  }
  DWORD ignored = 0;
  virtualProtect(table, count * sizeof *table, oldProtection, &ignored);
  return ok;
}

bool BindAll() {
  uint8_t* self = __ImageBase;
  if (ImportsBound(self)) return true;  // started as a program, or the loader bound them
  const void* kernel32 = FindLoadedModule("kernel32.dll");
  auto loadLibrary = reinterpret_cast<LoadLibraryAFn>(FindExport(kernel32, "LoadLibraryA"));
  auto getProcAddress = reinterpret_cast<GetProcAddressFn>(FindExport(kernel32, "GetProcAddress"));
  auto virtualProtect = reinterpret_cast<VirtualProtectFn>(FindExport(kernel32, "VirtualProtect"));
  if (!loadLibrary || !getProcAddress || !virtualProtect) return false;
  const IMAGE_DATA_DIRECTORY& dir = Directory(self, IMAGE_DIRECTORY_ENTRY_IMPORT);
  const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(self + dir.VirtualAddress);
  bool ok = true;
  for (; d->Name != 0; ++d)
    ok = BindDescriptor(self, *d, loadLibrary, getProcAddress, virtualProtect) && ok;
  if (!ok) return false;
  // The runtime's own start-up would next patch the references to data in other modules.
  _pei386_runtime_relocator();
  return true;
}

}  // namespace

// No state of its own: a static flag would itself sit at an absolute address. Once bound, the
// check costs a comparison per import descriptor.
bool BindOwnImports() {
  return RelocationsApplied() && BindAll();
}

}  // namespace omr72
