// The one disk link behind the exported page-access functions. Each program or library that
// carries the exports links exactly one definition: over the host's pass-through
// (native_q71_link.cpp) or over an emulated recorder.
#pragma once

#include "scsilink/scsi_link.h"

namespace omr72 {

// Created on first use and kept for the life of the process.
ScsiLink& Q71Link();

}  // namespace omr72
