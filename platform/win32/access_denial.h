// Windows: a CreateFileA that was refused for want of privilege. A physical drive opens only in
// an elevated process; ERROR_ACCESS_DENIED on it (or on the USB driver's device) is what a
// program started without "Run as administrator" gets.
#pragma once

#include <windows.h>

#include "platform/access_denials.h"

namespace omr72 {

// Right after a failed CreateFileA of `name`: notes the name when the failure was a denial.
inline void NoteDenial(AccessDenialLog& log, const char* name) {
  if (GetLastError() != ERROR_ACCESS_DENIED) return;
  log.Note({.node = name, .processPrivilege = true});
}

}  // namespace omr72
