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
