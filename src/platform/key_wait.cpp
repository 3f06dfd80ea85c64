#include "platform/key_wait.hpp"

#include <cerrno>
#include <cstdlib>
#include <iostream>

#ifndef _WIN32
#include <termios.h>
#include <unistd.h>
#endif

namespace texport::platform {

#ifdef _WIN32

void wait_for_key() {
  std::cout.flush();
  std::system("pause");
}

#else

namespace {

void read_one_byte() {
  char byte = 0;
  while (::read(STDIN_FILENO, &byte, 1) < 0 && errno == EINTR) {
  }
}

}  // namespace

void wait_for_key() {
  std::cout << "Press any key to continue . . . " << std::flush;
  termios saved{};
  if (::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    read_one_byte();
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  } else {
    read_one_byte();
  }
  std::cout << '\n' << std::flush;
}

#endif

}  // namespace texport::platform
