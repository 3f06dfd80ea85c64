#include <io.h>

#include <csignal>
#include <string>

#include "platform/console.hpp"
#include "platform/files.hpp"
#include "platform/wide.hpp"

#include <shellapi.h>  // after windows.h, which wide.hpp brings

namespace texport::platform {
namespace {

extern "C" void on_deadly_signal(int signal_number) {
  remove_files_being_written();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

HANDLE handle_of(Stream stream) {
  return GetStdHandle(stream == Stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

std::error_code write_console(Stream stream, std::string_view text) {
  // A console shows what it is given as UTF-16; a file or pipe gets the UTF-8 bytes.
  const HANDLE handle = handle_of(stream);
  DWORD done = 0;
  if (GetConsoleMode(handle, &done)) {
    const std::wstring wide = to_wide(std::string(text));
    return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &done, nullptr)
               ? std::error_code()
               : std::error_code(static_cast<int>(GetLastError()), std::system_category());
  }
  const int descriptor = stream == Stream::output ? 1 : 2;
  while (!text.empty()) {
    const int wrote = _write(descriptor, text.data(), static_cast<unsigned>(text.size()));
    if (wrote < 0)
      return {errno, std::generic_category()};
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return {};
}

std::vector<std::string> command_line(int, char**) {
  int count = 0;
  wchar_t** const wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i)
    arguments.push_back(to_utf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

bool is_terminal(Stream stream) {
  DWORD mode = 0;
  return GetConsoleMode(handle_of(stream), &mode) != 0;
}

void wait_for_key() {
  // The interpreter's own "pause", started from the system folder by its full path: never a
  // cmd.exe that lies in the folder of textures, whatever COMSPEC says or lacks.
  wchar_t system_folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system_folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return;
  const std::wstring interpreter = std::wstring(system_folder, length) + L"\\cmd.exe";
  std::wstring command = L"cmd.exe /c pause";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(interpreter.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process))
    return;
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

void prepare_process() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGBREAK, SIGABRT})
    std::signal(signal_number, on_deadly_signal);
}

}  // namespace texport::platform
