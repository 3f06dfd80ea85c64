#include <poll.h>
#include <termios.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cerrno>
#include <csignal>

#include "platform/console.hpp"
#include "platform/files.hpp"

namespace texport::platform {
namespace {

// The terminal as it was before the key wait made it raw, for a signal to put back.
termios saved_terminal{};
volatile std::sig_atomic_t terminal_is_raw = 0;

extern "C" void on_deadly_signal(int signal_number) {
  remove_files_being_written();
  if (terminal_is_raw)
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Every signal whose default action ends the process; SIGKILL and SIGSTOP cannot be caught.
constexpr int kDeadlySignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

}  // namespace

std::error_code write_console(Stream stream, std::string_view text) {
  const int descriptor = stream == Stream::output ? STDOUT_FILENO : STDERR_FILENO;
  while (!text.empty()) {
    const ssize_t wrote = ::write(descriptor, text.data(), text.size());
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote < 0)
      return {errno, std::generic_category()};
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return {};
}

std::vector<std::string> command_line(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool is_terminal(Stream stream) {
  return ::isatty(stream == Stream::output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

void wait_for_key() {
  write_console(Stream::output, "Press any key to continue . . . ");
  char byte = 0;
  if (::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved_terminal) == 0) {
    termios raw = saved_terminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    terminal_is_raw = 1;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  while (::read(STDIN_FILENO, &byte, 1) < 0 && errno == EINTR) {
  }
  if (terminal_is_raw) {
    // A key such as F5 or é puts several bytes in at once: they belong to this key press, not
    // to the shell's next line. What arrives within a moment is taken, then the rest dropped.
    pollfd input{STDIN_FILENO, POLLIN, 0};
    char rest[64];
    while (::poll(&input, 1, 20) > 0 && ::read(STDIN_FILENO, rest, sizeof rest) > 0) {
    }
    ::tcflush(STDIN_FILENO, TCIFLUSH);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  }
  terminal_is_raw = 0;
  write_console(Stream::output, "\n");
}

void prepare_process() {
#ifdef __GLIBC__
  // Large buffers come and go one after another at much the same sizes. Left to itself the
  // allocator maps each afresh and hands it back when it is freed, so every page of every buffer
  // is faulted in and zeroed again (a tenth of the time of a folder of small images). Kept, the
  // freed memory serves the next buffer; those over 32 MiB are still mapped and given back.
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = on_deadly_signal;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : kDeadlySignals) {
    struct sigaction before {};
    // A signal ignored by whoever started us (nohup) stays ignored, and one that something
    // else already handles (a sanitizer's crash report) stays with it.
    if (::sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_DFL)
      ::sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace texport::platform
