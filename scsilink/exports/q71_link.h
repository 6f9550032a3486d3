// The one disk link behind the exported page-access functions. Each program or library that
// carries the exports links exactly one definition: over the host's pass-through
// (native_q71_link.cpp) or over an emulated recorder.
#pragma once

#include "scsilink/scsi_link.h"

namespace omr72 {

// Created on first use and kept for the life of the process.
ScsiLink& Q71Link();

// Called first by every export. On Windows it binds the executable's imports when another
// program has loaded it as a module (bind_imports_win32.cpp); false when that fails.
#if defined(_WIN32)
bool Q71BindOwnImports();
#else
inline bool Q71BindOwnImports() {
  return true;
}
#endif

}  // namespace omr72
