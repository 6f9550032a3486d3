/* A C program linked against libomr72.so the ordinary way: the public header compiles as C,
 * its function types match its prototypes, and the linked functions run. */
#include <string.h>

#include "scsilink/q71.h"

int main(void) {
  Q71_ReadPagesFn readPages = Q71_ReadPages;
  Q71_GetFlashParamsFn getFlashParams = Q71_GetFlashParams;
  Q71_ReadPartsOfPagesFn readParts = Q71_ReadPartsOfPages;
  unsigned char params[Q71_FLASH_PARAMS_SIZE];
  unsigned char buffer[64];
  memset(params, 0x3C, sizeof params);
  /* No scan has run: nothing reaches a drive. */
  return getFlashParams(params) == 0 && params[14] == 0x3C && readPages(0, buffer, 0) == 1 &&
                 readParts(0, 4, 0, 16, 1, buffer) == 0
             ? 0
             : 1;
}
