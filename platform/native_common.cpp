// Assembles the native platform from the per-OS factories.
#include "platform/native.h"

namespace omr72 {

NativePlatform::NativePlatform()
    : usb_(MakeUsbDriver()),
      scsi_(MakePassThrough()),
      lock_(MakeInstanceLock()),
      console_(MakeConsole()),
      sleeper_(MakeSleeper()),
      module_(MakeProgramModule()),
      platform_(new Platform{*usb_, *scsi_, *lock_, *console_, *sleeper_, *module_, clock_}) {}

NativePlatform::~NativePlatform() = default;

}  // namespace omr72
