// The width of the terminal on standard output, from the kernel's tty.
#include <sys/ioctl.h>
#include <unistd.h>

#include "ProgressView.h"

int TerminalColumns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}
