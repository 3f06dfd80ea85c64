#include "platform/console.hpp"

#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/files.hpp"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace texport::platform {
namespace {

#ifndef _WIN32
// The terminal as it was before the key wait made it raw, for the interruption to put back.
termios saved_terminal{};
volatile std::sig_atomic_t terminal_is_raw = 0;
#endif

extern "C" void on_interrupt(int signal_number) {
  remove_file_being_written();
#ifndef _WIN32
  if (terminal_is_raw)
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
#endif
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

std::error_code write_console(Stream stream, std::string_view text) {
  const int descriptor = stream == Stream::output ? 1 : 2;
#ifdef _WIN32
  // A console shows what it is given as UTF-16; a file or pipe gets the UTF-8 bytes.
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  DWORD ignored = 0;
  if (GetConsoleMode(handle, &ignored)) {
    const std::wstring wide = to_wide(std::string(text));
    return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &ignored, nullptr)
               ? std::error_code()
               : std::error_code(static_cast<int>(GetLastError()), std::system_category());
  }
#endif
  while (!text.empty()) {
    const auto wrote = ::write(descriptor, text.data(), static_cast<unsigned>(text.size()));
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote < 0)
      return {errno, std::generic_category()};
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return {};
}

#ifdef _WIN32

void wait_for_key() {
  std::system("pause");
}

void prepare_process() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGBREAK})
    std::signal(signal_number, on_interrupt);
}

#else

void wait_for_key() {
  write_console(Stream::output, "Press any key to continue . . . ");
  char byte = 0;
  termios raw{};
  if (::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved_terminal) == 0) {
    raw = saved_terminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    terminal_is_raw = 1;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  while (::read(STDIN_FILENO, &byte, 1) < 0 && errno == EINTR) {
  }
  if (terminal_is_raw)
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  terminal_is_raw = 0;
  write_console(Stream::output, "\n");
}

void prepare_process() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction before {};
    // A signal ignored by whoever started us (nohup) stays ignored.
    if (::sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
      ::sigaction(signal_number, &action, nullptr);
  }
}

#endif

}  // namespace texport::platform
