// Wildcard search of the working folder. On Windows this is the C runtime's own search; elsewhere
// a layer of ours with the same names, record and meaning:
//  - the folder is listed once, when the search starts (a snapshot);
//  - only regular files are reported (a symbolic link to one counts), never folders;
//  - names are matched without regard to ASCII letter case ("*.sfd" matches A.SFD);
//  - matches come sorted by name, ASCII case folded, ties in byte order, so runs repeat;
//  - a name longer than the record holds is skipped with a line on standard error.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <io.h>
#endif

namespace texport::platform {

#ifdef _WIN32

using ::_findclose;
using ::_finddata64i32_t;
using ::_findfirst64i32;
using ::_findnext64i32;

#else

inline constexpr unsigned _A_NORMAL = 0x00;

struct _finddata64i32_t {
  unsigned attrib;
  std::int64_t time_create;
  std::int64_t time_access;
  std::int64_t time_write;
  std::uint32_t size;
  char name[260];
};

// Returns a search handle, or -1 when nothing matches or the folder cannot be listed.
std::intptr_t _findfirst64i32(const char* pattern, _finddata64i32_t* record);
// Fills the record with the next match and returns 0; -1 when there is none.
int _findnext64i32(std::intptr_t handle, _finddata64i32_t* record);
int _findclose(std::intptr_t handle);

#endif

// The record's attribute bit for a folder (the runtime's _A_SUBDIR); our own layer never sets it.
inline constexpr unsigned kFolderAttribute = 0x10;

// Case-insensitive (ASCII) wildcard match of a whole name against '*' and '?'.
bool wildcard_match(const char* pattern, const char* name);

}  // namespace texport::platform
