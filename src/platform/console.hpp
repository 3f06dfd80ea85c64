// The console: standard output and error, the key-press wait, and how a run meets signals. One
// implementation per system (console_posix.cpp, console_win32.cpp).
#pragma once

#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace texport::platform {

enum class Stream { output, error };

// Writes UTF-8 text: to a Windows console as wide characters, to anything else as it is.
std::error_code write_console(Stream stream, std::string_view text);

// The program's arguments as UTF-8 (Windows hands them over in its wide form).
std::vector<std::string> command_line(int argc, char** argv);

// True when the stream is a terminal (a console on Windows), not a file or a pipe.
bool is_terminal(Stream stream);

// Holds the console open until a key is pressed: the command interpreter's "pause" on Windows;
// elsewhere the same prompt, then one key in raw mode on a terminal (with everything else that
// key put in the input), or one byte (or the end of input) from anything else.
void wait_for_key();

// Once per run, before anything else: the signals of a failed write (a closed pipe, a file-size
// limit) become errors of that write; any other signal that would end the run first removes the
// files being written and restores the terminal. Where the C library would hand every freed large
// buffer back to the system, it keeps them for the next one instead.
void prepare_process();

}  // namespace texport::platform
