// The five exported page-access functions: argument conventions only; the work is in
// page_access.cpp. Counts and sizes arrive in 32-bit slots of which the low 16 bits count.
#define OMR72_Q71_BUILDING
#include "platform/own_imports.h"
#include "scsilink/exports/q71_link.h"
#include "scsilink/page_access.h"
#include "scsilink/q71.h"

namespace {

uint8_t Flag(bool ok) {
  return ok ? 1 : 0;
}

uint16_t Low16(uint32_t slot) {
  return static_cast<uint16_t>(slot & 0xFFFF);
}

}  // namespace

extern "C" {

uint8_t Q71_CALL Q71_IsConnected(void) {
  if (!omr72::BindOwnImports()) return 0;
  return Flag(omr72::PageAccessIsConnected(omr72::Q71Link()));
}

uint8_t Q71_CALL Q71_GetFlashParams(void* params) {
  if (!omr72::BindOwnImports()) return 0;
  return Flag(omr72::PageAccessGetFlashParams(omr72::Q71Link(), static_cast<uint8_t*>(params)));
}

uint8_t Q71_CALL Q71_ReadPages(uint32_t startPage, void* buffer, uint32_t pageCount) {
  if (!omr72::BindOwnImports()) return 0;
  return Flag(omr72::PageAccessReadPages(omr72::Q71Link(), startPage, static_cast<uint8_t*>(buffer),
                                         Low16(pageCount)));
}

uint8_t Q71_CALL Q71_WritePages(uint32_t startPage, const void* buffer, uint32_t pageCount) {
  if (!omr72::BindOwnImports()) return 0;
  return Flag(omr72::PageAccessWritePages(omr72::Q71Link(), startPage,
                                          static_cast<const uint8_t*>(buffer), Low16(pageCount)));
}

uint8_t Q71_CALL Q71_ReadPartsOfPages(uint32_t startPage, uint32_t pageCount, uint32_t partOffset,
                                      uint32_t partSize, uint32_t pageStep, void* buffer) {
  if (!omr72::BindOwnImports()) return 0;
  return Flag(omr72::PageAccessReadPartsOfPages(omr72::Q71Link(), startPage, Low16(pageCount),
                                                Low16(partOffset), Low16(partSize), Low16(pageStep),
                                                static_cast<uint8_t*>(buffer)));
}

}  // extern "C"
