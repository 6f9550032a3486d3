// The exports' link over the pass-through of the machine the program runs on.
#include <memory>

#include "platform/native.h"
#include "scsilink/exports/q71_link.h"

namespace omr72 {

#if defined(_WIN32)
// A plain pointer instead of a static object: when another program loads the executable as a
// module, its runtime start-up never runs, so neither guarded initialisation nor exit-time
// destructors may be relied on. The link lives until the process ends.
ScsiLink& Q71Link() {
  static ScsiLink* link = nullptr;
  if (link == nullptr) link = new ScsiLink(*NativePlatform::MakePassThrough().release());
  return *link;
}
#else
// A static object, so that unloading the shared library also releases the link.
ScsiLink& Q71Link() {
  struct Owned {
    std::unique_ptr<ScsiPassThrough> passThrough = NativePlatform::MakePassThrough();
    ScsiLink link{*passThrough};
  };
  static Owned owned;
  return owned.link;
}
#endif

}  // namespace omr72
