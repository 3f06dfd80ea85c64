// The console: standard output and error, the key-press wait, and how a run meets signals.
#pragma once

#include <string_view>
#include <system_error>

namespace texport::platform {

enum class Stream { output, error };

// Writes UTF-8 text: to a Windows console as wide characters, to anything else as it is.
std::error_code write_console(Stream stream, std::string_view text);

// Holds the console open until a key is pressed: the command interpreter's "pause" on Windows;
// elsewhere the same prompt, one key in raw mode on a terminal, or one byte (or end of input)
// from anything else.
void wait_for_key();

// Once per run: the signals of a failed write (a closed pipe, a file-size limit) become errors of
// that write; an interruption removes the file being written and restores the terminal before the
// run ends as interrupted.
void prepare_process();

}  // namespace texport::platform
