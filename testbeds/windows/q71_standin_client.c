/* A program that works on the recorder's pages through the updater's exports, loaded the way an
 * outside program loads them: LoadLibraryA on the executable, GetProcAddress by name and by
 * ordinal. Run through omr72-wine-sim, the calls reach the emulated recorder through the
 * stand-in driver. Built for i686, it calls each export the way any 32-bit caller does and
 * checks that the function removed exactly its own arguments from the stack (standard call):
 * a cdecl export would leave them, and the caller's stack would drift by that much per call.
 * Prints one line per step; exit code 0 when every step did what it should.
 * Usage: q71_standin_client UPDATER_EXE */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "scsilink/q71.h"

#define PAGES 2
#define FIRST_PAGE 100
#define PART_OFFSET 16
#define PART_SIZE 8
#define MAX_PAGE_SIZE 4096
/* More than one command carries (64 KiB): the exports split it, and each part must pass the
 * storage port driver's limit on one command. */
#define BIG_PAGES 40
#define BIG_FIRST_PAGE 200
#define MAX_ARGS 6

static int failures = 0;

static void Check(int ok, const char* what) {
  printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

/* A path from the Linux side is reached through drive Z:. */
static void WindowsPath(const char* path, char* out, size_t size) {
  size_t i = 0;
  if (path[0] == '/' && size > 2) {
    out[i++] = 'Z';
    out[i++] = ':';
  }
  for (; *path && i + 1 < size; ++path) out[i++] = *path == '/' ? '\\' : *path;
  out[i] = 0;
}

/* The same function by name and by ordinal, or nothing. */
static FARPROC Find(HMODULE module, const char* name, WORD ordinal) {
  FARPROC byName = GetProcAddress(module, name);
  FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
  char what[96];
  snprintf(what, sizeof what, "%s by name and by ordinal %u", name, ordinal);
  Check(byName != NULL && byName == byOrdinal, what);
  return byName;
}

#if defined(__i386__)
/* uint32_t CallStdcall(FARPROC fn, const uintptr_t* args, uint32_t count, int32_t* left):
 * pushes the count arguments (args[0] last, so that it comes first), calls fn, and stores in
 * *left how many bytes of the stack the callee left behind: 0 for a standard-call function,
 * 4 * count for one that leaves its arguments to the caller. The stack pointer is restored from
 * a callee-saved register either way. Written out because a compiler's own call sequence may
 * re-adjust the stack pointer after the call and hide the difference. */
__asm__(
    "  .text\n"
    "  .globl _CallStdcall\n"
    "_CallStdcall:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 12(%ebp), %esi\n"
    "  movl 16(%ebp), %ecx\n"
    "  movl %esp, %edi\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *8(%ebp)\n"
    "  movl %edi, %ecx\n"
    "  subl %esp, %ecx\n"
    "  movl 20(%ebp), %edx\n"
    "  movl %ecx, (%edx)\n"
    "  movl %edi, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebp\n"
    "  ret\n");
uint32_t CallStdcall(FARPROC fn, const uintptr_t* args, uint32_t count, int32_t* left);

/* A function that leaves its argument to the caller: the check must see it. */
static uint8_t __cdecl LeavesItsArgument(uint32_t value) {
  return (uint8_t)value;
}

static void CheckTheStackCheck(void) {
  const uintptr_t args[] = {7};
  int32_t left = 0;
  const uint32_t result = CallStdcall((FARPROC)(void (*)(void))LeavesItsArgument, args, 1, &left);
  Check((uint8_t)result == 7 && left == 4, "the stack check sees a cdecl function's 4 bytes");
}
#endif

/* Calls an export with its arguments, each one stack slot; returns its 8-bit result. */
static uint8_t Call(const char* name, FARPROC fn, const uintptr_t* args, unsigned count) {
#if defined(__i386__)
  int32_t left = -1;
  const uint8_t result = (uint8_t)CallStdcall(fn, args, count, &left);
  if (left != 0) {
    char what[96];
    snprintf(what, sizeof what, "%s left %ld of its %u argument bytes on the stack", name,
             (long)left, count * 4);
    Check(0, what);
  }
  return result;
#else
  /* x86_64 has one calling convention: integers and pointers in registers and 8-byte stack
   * slots, so a call through uintptr_t parameters passes each argument as the typed one would. */
  typedef uint8_t (*F0)(void);
  typedef uint8_t (*F1)(uintptr_t);
  typedef uint8_t (*F3)(uintptr_t, uintptr_t, uintptr_t);
  typedef uint8_t (*F6)(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t);
  void (*generic)(void) = (void (*)(void))fn;
  (void)name;
  switch (count) {
    case 0:
      return ((F0)generic)();
    case 1:
      return ((F1)generic)(args[0]);
    case 3:
      return ((F3)generic)(args[0], args[1], args[2]);
    case 6:
      return ((F6)generic)(args[0], args[1], args[2], args[3], args[4], args[5]);
  }
  Check(0, "a call with an argument count this client does not make");
  return 0;
#endif
}

static FARPROC isConnected, getFlashParams, readPages, writePages, readParts;

static uint8_t IsConnected(void) {
  return Call("Q71_IsConnected", isConnected, NULL, 0);
}
static uint8_t GetFlashParams(void* params) {
  const uintptr_t args[] = {(uintptr_t)params};
  return Call("Q71_GetFlashParams", getFlashParams, args, 1);
}
static uint8_t ReadPages(uint32_t start, void* buffer, uint32_t count) {
  const uintptr_t args[] = {start, (uintptr_t)buffer, count};
  return Call("Q71_ReadPages", readPages, args, 3);
}
static uint8_t WritePages(uint32_t start, const void* buffer, uint32_t count) {
  const uintptr_t args[] = {start, (uintptr_t)buffer, count};
  return Call("Q71_WritePages", writePages, args, 3);
}
static uint8_t ReadParts(uint32_t start, uint32_t count, uint32_t offset, uint32_t size,
                         uint32_t step, void* buffer) {
  const uintptr_t args[] = {start, count, offset, size, step, (uintptr_t)buffer};
  return Call("Q71_ReadPartsOfPages", readParts, args, 6);
}

int main(int argc, char** argv) {
  static unsigned char written[BIG_PAGES * MAX_PAGE_SIZE];
  static unsigned char readBack[BIG_PAGES * MAX_PAGE_SIZE];
  unsigned char params[Q71_FLASH_PARAMS_SIZE];
  unsigned char parts[PAGES * PART_SIZE];
  char path[MAX_PATH];
  if (argc != 2) {
    printf("usage: q71_standin_client UPDATER_EXE\n");
    return 2;
  }
  WindowsPath(argv[1], path, sizeof path);
  HMODULE module = LoadLibraryA(path);
  Check(module != NULL, "LoadLibraryA of the updater");
  if (!module) return 1;

#if defined(__i386__)
  CheckTheStackCheck();
#endif
  isConnected = Find(module, "Q71_IsConnected", 2);
  getFlashParams = Find(module, "Q71_GetFlashParams", 3);
  readPages = Find(module, "Q71_ReadPages", 4);
  writePages = Find(module, "Q71_WritePages", 5);
  readParts = Find(module, "Q71_ReadPartsOfPages", 6);
  Check(GetProcAddress(module, MAKEINTRESOURCEA(1)) == NULL, "nothing at ordinal 1");
  Check(GetProcAddress(module, MAKEINTRESOURCEA(7)) == NULL, "nothing at ordinal 7");
  Check(GetProcAddress(module, "Q71_ReadPages@12") == NULL, "no decorated name");
  if (failures) return 1;

  Check(IsConnected() == 1, "Q71_IsConnected finds the recorder");
  memset(params, 0, sizeof params);
  Check(GetFlashParams(params) == 1, "Q71_GetFlashParams");
  const unsigned pageSize = (unsigned)(params[14] | (params[15] << 8));
  printf("page size %u, serial %.20s, firmware %u.%u\n", pageSize, (const char*)params + 17,
         params[39], params[38]);
  Check(pageSize > 0 && pageSize <= MAX_PAGE_SIZE, "a page size the test can hold");
  if (failures) return 1;

  for (unsigned i = 0; i < PAGES * pageSize; ++i) written[i] = (unsigned char)(i * 7 + i / 251);
  Check(WritePages(FIRST_PAGE, written, PAGES) == 1, "Q71_WritePages of two pages");
  memset(readBack, 0xA5, sizeof readBack);
  Check(ReadPages(FIRST_PAGE, readBack, PAGES) == 1, "Q71_ReadPages of the same two pages");
  Check(memcmp(written, readBack, PAGES * pageSize) == 0, "the pages read back as written");

  memset(parts, 0xA5, sizeof parts);
  Check(ReadParts(FIRST_PAGE, PAGES, PART_OFFSET, PART_SIZE, 1, parts) == 1,
        "Q71_ReadPartsOfPages of 8 bytes from each page");
  int partsMatch = 1;
  for (unsigned i = 0; i < PAGES; ++i) {
    partsMatch &=
        memcmp(parts + i * PART_SIZE, written + i * pageSize + PART_OFFSET, PART_SIZE) == 0;
  }
  Check(partsMatch, "the parts are those of the pages written");

  for (unsigned i = 0; i < BIG_PAGES * pageSize; ++i) written[i] = (unsigned char)(i * 5 + i / 509);
  Check(WritePages(BIG_FIRST_PAGE, written, BIG_PAGES) == 1, "Q71_WritePages of 40 pages");
  memset(readBack, 0xA5, sizeof readBack);
  Check(ReadPages(BIG_FIRST_PAGE, readBack, BIG_PAGES) == 1, "Q71_ReadPages of the 40 pages");
  Check(memcmp(written, readBack, BIG_PAGES * pageSize) == 0, "the 40 pages read back as written");
  FreeLibrary(module);
  printf(failures ? "%d failed\n" : "all passed\n", failures);
  return failures ? 1 : 0;
}
