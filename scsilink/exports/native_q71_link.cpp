// The exports' link over the pass-through of the machine the program runs on.
#include "platform/native.h"
#include "scsilink/exports/q71_link.h"

namespace omr72 {

// A plain pointer instead of a function-local static object: when another program loads the
// Windows executable as a module, its runtime start-up never runs, so neither guarded
// initialisation nor exit-time destructors may be relied on. The link lives until the
// process ends.
ScsiLink& Q71Link() {
  static ScsiLink* link = nullptr;
  if (link == nullptr) link = new ScsiLink(*NativePlatform::MakePassThrough().release());
  return *link;
}

}  // namespace omr72
