// The platform of the machine the program runs on. Each capability's factory lives in the
// backend file of the OS the build is for (platform/win32/ or platform/linux/), one file per
// capability, so a program that needs only one of them links only that one.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace omr72 {

// Owns the OS objects behind a Platform for the life of the process.
class NativePlatform {
 public:
  NativePlatform();
  ~NativePlatform();
  NativePlatform(const NativePlatform&) = delete;
  NativePlatform& operator=(const NativePlatform&) = delete;

  Platform& Get() { return *platform_; }

  // Each capability on its own, for programs that need only one (the page-access library).
  static std::unique_ptr<UsbDriver> MakeUsbDriver();
  static std::unique_ptr<ScsiPassThrough> MakePassThrough();
  static std::unique_ptr<InstanceLock> MakeInstanceLock();
  static std::unique_ptr<Console> MakeConsole();
  static std::unique_ptr<Sleeper> MakeSleeper();
  static std::unique_ptr<ProgramModule> MakeProgramModule();
  static ArgumentConvention CommandLineConvention();

 private:
  std::unique_ptr<UsbDriver> usb_;
  std::unique_ptr<ScsiPassThrough> scsi_;
  std::unique_ptr<InstanceLock> lock_;
  std::unique_ptr<Console> console_;
  std::unique_ptr<Sleeper> sleeper_;
  std::unique_ptr<ProgramModule> module_;
  SteadyClock clock_;
  std::unique_ptr<Platform> platform_;
};

}  // namespace omr72
