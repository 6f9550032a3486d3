// The firmware updater on the machine's own devices.
#include "platform/native.h"
#include "updater/updater.h"

int main(int argc, char** argv) {
  omr72::NativePlatform platform;
  return omr72::RunProgram(platform.Get(), argc, argv,
                           omr72::NativePlatform::CommandLineConvention());
}
