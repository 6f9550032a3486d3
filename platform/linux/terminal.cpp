// Linux: whether standard input is a terminal.
#include "platform/terminal.h"

#include <unistd.h>

namespace omr72 {

bool StandardInputIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

}  // namespace omr72
