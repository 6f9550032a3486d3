/* Page-level access to the flash memory of an Orlo Mica R72 recorder attached as a USB disk.
 *
 * On Windows the functions are exported by OMR72_FW_Updater.exe (standard-call, undecorated
 * names, ordinals 2 to 6); on Linux by libomr72.so. Include this header from C or C++.
 *
 * Calling order:
 *   1. Q71_IsConnected()     finds the recorder; every later call goes to the drive it found.
 *   2. Q71_GetFlashParams()  reads the 40-byte flash-parameter record, which also sets the page
 *                            size that Q71_ReadPages and Q71_WritePages work in.
 *   3. Q71_ReadPages, Q71_WritePages, Q71_ReadPartsOfPages, as often as needed.
 *
 * Every function returns 1 on success and 0 on failure; nothing is printed or retried. Counts,
 * sizes, offsets and steps are 16-bit: only the low 16 bits of those arguments are used. A
 * request is split into commands of at most 64 KiB; the first failing command ends it with 0,
 * and the commands before it have taken effect (pages read are in the buffer, pages written
 * are on the recorder).
 *
 * A count of 0 returns 1 without sending anything. These return 0 without sending anything:
 * Q71_ReadPages and Q71_WritePages before a successful Q71_GetFlashParams (page size 0);
 * Q71_ReadPartsOfPages with a part size of 0; any call with a null buffer; and a request whose
 * pages would run past page number 0xFFFFFFFF.
 *
 * The functions keep one shared link and are not reentrant: calls must not overlap.
 *
 * Windows: a program may load OMR72_FW_Updater.exe with LoadLibraryA and look the functions up
 * with GetProcAddress, by name or by ordinal. Where the executable cannot run as a module (its
 * loader mapped it away from its preferred address without relocating it) every function
 * returns 0 and does nothing.
 */
#ifndef OMR72_Q71_H
#define OMR72_Q71_H

#include <stdint.h>

#if defined(_WIN32)
#define Q71_CALL __stdcall
#else
#define Q71_CALL
#endif

#if defined(OMR72_Q71_BUILDING)
#if defined(_WIN32)
#define Q71_EXPORT
#else
#define Q71_EXPORT __attribute__((visibility("default")))
#endif
#else
#define Q71_EXPORT
#endif

#define Q71_FLASH_PARAMS_SIZE 40

#ifdef __cplusplus
extern "C" {
#endif

/* Record returned by Q71_GetFlashParams, byte offsets:
 *   1  u32 flash parameter, host order      14 u16 page size in bytes, host order
 *   11 u16 flash parameter, host order      17 serial number, 20 bytes, not NUL-terminated
 *   38 firmware version, minor byte then major byte; the other bytes are passed on as read. */

/* Looks for the recorder on physical drives 0 to 8. */
Q71_EXPORT uint8_t Q71_CALL Q71_IsConnected(void);

/* Copies the 40-byte record into params; on failure params is left untouched. */
Q71_EXPORT uint8_t Q71_CALL Q71_GetFlashParams(void* params);

/* pageCount whole pages from startPage on; buffer holds pageCount x page size bytes. */
Q71_EXPORT uint8_t Q71_CALL Q71_ReadPages(uint32_t startPage, void* buffer, uint32_t pageCount);
Q71_EXPORT uint8_t Q71_CALL Q71_WritePages(uint32_t startPage, const void* buffer,
                                           uint32_t pageCount);

/* partSize bytes from byte partOffset of each of the pages startPage, startPage + pageStep,
 * startPage + 2 x pageStep, ... (pageCount pages), stored back to back: part i at
 * buffer + i x partSize, pageCount x partSize bytes in all. Note the buffer comes last. */
Q71_EXPORT uint8_t Q71_CALL Q71_ReadPartsOfPages(uint32_t startPage, uint32_t pageCount,
                                                 uint32_t partOffset, uint32_t partSize,
                                                 uint32_t pageStep, void* buffer);

/* Function types, for callers that look the functions up at run time. */
typedef uint8_t(Q71_CALL* Q71_IsConnectedFn)(void);
typedef uint8_t(Q71_CALL* Q71_GetFlashParamsFn)(void*);
typedef uint8_t(Q71_CALL* Q71_ReadPagesFn)(uint32_t, void*, uint32_t);
typedef uint8_t(Q71_CALL* Q71_WritePagesFn)(uint32_t, const void*, uint32_t);
typedef uint8_t(Q71_CALL* Q71_ReadPartsOfPagesFn)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                                  void*);

#ifdef __cplusplus
}
#endif

#endif /* OMR72_Q71_H */
