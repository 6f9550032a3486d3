/* A C program linked against libomr72.so the ordinary way: the public header compiles as C,
 * its function types match its prototypes, and calls that need no recorder behave. */
#include <stdio.h>
#include <string.h>

#include "scsilink/q71.h"

int main(void) {
  Q71_ReadPagesFn readPages = Q71_ReadPages;
  Q71_GetFlashParamsFn getFlashParams = Q71_GetFlashParams;
  Q71_ReadPartsOfPagesFn readParts = Q71_ReadPartsOfPages;
  unsigned char params[Q71_FLASH_PARAMS_SIZE];
  unsigned char buffer[64];
  int failures = 0;
  memset(params, 0x3C, sizeof params);
  /* No scan has run: nothing reaches a drive. */
  if (getFlashParams(params) != 0 || params[14] != 0x3C) failures |= 1;
  if (readPages(0, buffer, 0) != 1) failures |= 2;
  if (readParts(0, 4, 0, 16, 1, buffer) != 0) failures |= 4;
  if (failures != 0) printf("failures: %d\n", failures);
  return failures;
}
