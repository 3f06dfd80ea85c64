#pragma once

namespace texport::platform {

// Holds the console open until a key is pressed: the command interpreter's "pause" on Windows;
// elsewhere the same prompt, one key in raw mode on a terminal, or one byte (or end of input)
// from anything else.
void wait_for_key();

}  // namespace texport::platform
