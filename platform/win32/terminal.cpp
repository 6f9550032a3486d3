// Windows: whether standard input is a console.
#include "platform/terminal.h"

#include <windows.h>

namespace omr72 {

bool StandardInputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

}  // namespace omr72
