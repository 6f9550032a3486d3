/* A program that works on the recorder's pages through the updater's exports, loaded the way an
 * outside program loads them: LoadLibraryA on the executable, GetProcAddress by name and by
 * ordinal. Run through omr72-wine-sim, the calls reach the emulated recorder through the
 * stand-in driver. Prints one line per step; exit code 0 when every step did what it should.
 * Usage: q71_standin_client UPDATER_EXE */
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

  /* Through void (*)(void), the generic function pointer type, so the casts are not flagged. */
  Q71_IsConnectedFn isConnected =
      (Q71_IsConnectedFn)(void (*)(void))Find(module, "Q71_IsConnected", 2);
  Q71_GetFlashParamsFn getFlashParams =
      (Q71_GetFlashParamsFn)(void (*)(void))Find(module, "Q71_GetFlashParams", 3);
  Q71_ReadPagesFn readPages = (Q71_ReadPagesFn)(void (*)(void))Find(module, "Q71_ReadPages", 4);
  Q71_WritePagesFn writePages = (Q71_WritePagesFn)(void (*)(void))Find(module, "Q71_WritePages", 5);
  Q71_ReadPartsOfPagesFn readParts =
      (Q71_ReadPartsOfPagesFn)(void (*)(void))Find(module, "Q71_ReadPartsOfPages", 6);
  if (failures) return 1;

  Check(isConnected() == 1, "Q71_IsConnected finds the recorder");
  memset(params, 0, sizeof params);
  Check(getFlashParams(params) == 1, "Q71_GetFlashParams");
  const unsigned pageSize = (unsigned)(params[14] | (params[15] << 8));
  printf("page size %u, serial %.20s, firmware %u.%u\n", pageSize, (const char*)params + 17,
         params[39], params[38]);
  Check(pageSize > 0 && pageSize <= MAX_PAGE_SIZE, "a page size the test can hold");
  if (failures) return 1;

  for (unsigned i = 0; i < PAGES * pageSize; ++i) written[i] = (unsigned char)(i * 7 + i / 251);
  Check(writePages(FIRST_PAGE, written, PAGES) == 1, "Q71_WritePages of two pages");
  memset(readBack, 0xA5, sizeof readBack);
  Check(readPages(FIRST_PAGE, readBack, PAGES) == 1, "Q71_ReadPages of the same two pages");
  Check(memcmp(written, readBack, PAGES * pageSize) == 0, "the pages read back as written");

  memset(parts, 0xA5, sizeof parts);
  Check(readParts(FIRST_PAGE, PAGES, PART_OFFSET, PART_SIZE, 1, parts) == 1,
        "Q71_ReadPartsOfPages of 8 bytes from each page");
  int partsMatch = 1;
  for (unsigned i = 0; i < PAGES; ++i) {
    partsMatch &=
        memcmp(parts + i * PART_SIZE, written + i * pageSize + PART_OFFSET, PART_SIZE) == 0;
  }
  Check(partsMatch, "the parts are those of the pages written");

  for (unsigned i = 0; i < BIG_PAGES * pageSize; ++i) written[i] = (unsigned char)(i * 5 + i / 509);
  Check(writePages(BIG_FIRST_PAGE, written, BIG_PAGES) == 1, "Q71_WritePages of 40 pages");
  memset(readBack, 0xA5, sizeof readBack);
  Check(readPages(BIG_FIRST_PAGE, readBack, BIG_PAGES) == 1, "Q71_ReadPages of the 40 pages");
  Check(memcmp(written, readBack, BIG_PAGES * pageSize) == 0, "the 40 pages read back as written");
  FreeLibrary(module);
  printf(failures ? "%d failed\n" : "all passed\n", failures);
  return failures ? 1 : 0;
}
