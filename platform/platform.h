// Everything the program needs of the operating system, passed down from the entry point.
#pragma once

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/instance_lock.h"
#include "platform/program_module.h"
#include "platform/scsi_pass_through.h"
#include "platform/sleeper.h"
#include "platform/usb_driver.h"

namespace omr72 {

// How the OS's console programs read their command lines: a Linux tool answers --help and
// --version and refuses an option it does not know; the Windows updater, like the program it
// replaces, takes any argument it does not know for a normal run.
enum class ArgumentConvention { kPosix, kWindows };

struct Platform {
  UsbDriver& usb;
  ScsiPassThrough& scsi;
  InstanceLock& lock;
  Console& console;
  Sleeper& sleeper;
  ProgramModule& module;
  Clock& clock;
};

}  // namespace omr72
