// Preloaded into the tool by the fault tests. It checks that every file the tool creates is
// created exclusively and stays private while it is written, and on request plants faults at the
// moment the tool acts:
//   TEXPORT_FAULT_VANISH=NAME         NAME is deleted just before its first open
//   TEXPORT_FAULT_REPLACE=NAME        NAME is replaced by the file, folder or FIFO at
//   TEXPORT_FAULT_REPLACE_WITH=PATH   PATH just before its first open
//   TEXPORT_FAULT_SHRINK=NAME         NAME reads as ended before the length the tool was told:
//   TEXPORT_FAULT_SHRINK_AT=N         at byte N (default 0)
//   TEXPORT_FAULT_NO_COPY=1           copy_file_range fails as between two file systems
//   TEXPORT_FAULT_NO_UNNAMED=1        files with no name (O_TMPFILE) cannot be made, as on a
//                                     file system without them
//   TEXPORT_FAULT_NO_NAMING=1         a file is given a name by its descriptor alone only by a
//                                     runner with the capability, as on Linux before 6.10
//   TEXPORT_FAULT_NO_TEMPORARIES=1    no file can be created under a name: only files with no
//                                     name can be written
//   TEXPORT_FAULT_DISK_BYTES=N        the disk is full once N bytes went into created files
//   TEXPORT_FAULT_FREE_BYTES=N        the file system says N bytes are free
//   TEXPORT_FAULT_INTERRUPT=SIGNAL    the signal of that number arrives while the first created
//                                     file is half written
//   TEXPORT_FAULT_SLOW_MS=N           every write into a created file takes N ms more
//   TEXPORT_FAULT_CHANGE=NAME         NAME is replaced by the file at TEXPORT_FAULT_REPLACE_WITH
//                                     once the first image has taken its name
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>

namespace {

bool created[4096];  // descriptors of files the tool created
int shrunk = -1;     // the descriptor of TEXPORT_FAULT_SHRINK
long long disk_bytes_written = 0;

bool names(const char* path, const char* variable) {
  const char* wanted = getenv(variable);
  return wanted != nullptr && path != nullptr && strcmp(path, wanted) == 0;
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Plants the faults asked for on `path`, then opens it as the tool asked.
int opened(int folder, const char* path, int flags, mode_t mode) {
  static bool vanished = false, replaced = false;
  if ((flags & O_CREAT) != 0 && (flags & (O_EXCL | O_NOFOLLOW)) != (O_EXCL | O_NOFOLLOW))
    abort();  // a file created without O_EXCL could be someone else's
  if (!vanished && names(path, "TEXPORT_FAULT_VANISH")) {
    vanished = true;
    unlink(path);
  }
  if (!replaced && names(path, "TEXPORT_FAULT_REPLACE")) {
    replaced = true;
    unlink(path);
    rename(getenv("TEXPORT_FAULT_REPLACE_WITH"), path);
  }
  const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
  if (unnamed && getenv("TEXPORT_FAULT_NO_UNNAMED") != nullptr) {
    errno = EOPNOTSUPP;
    return -1;
  }
  if ((flags & O_CREAT) != 0 && getenv("TEXPORT_FAULT_NO_TEMPORARIES") != nullptr) {
    errno = EACCES;
    return -1;
  }
  const int file = next<int (*)(int, const char*, int, ...)>("openat")(folder, path, flags, mode);
  if (file >= 0 && file < 4096)
    created[file] = (flags & O_CREAT) != 0 || unnamed;
  if (names(path, "TEXPORT_FAULT_SHRINK"))
    shrunk = file;
  return file;
}

mode_t mode_argument(int flags, va_list args) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE
             ? static_cast<mode_t>(va_arg(args, int))
             : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return opened(AT_FDCWD, path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return opened(folder, path, flags, mode);
}

// How much of `count` bytes at `offset` of `file` is still there.
size_t left_of(int file, off_t offset, size_t count) {
  if (file != shrunk)
    return count;
  const char* at = getenv("TEXPORT_FAULT_SHRINK_AT");
  const long long end = at != nullptr ? atoll(at) : 0;
  return offset >= end ? 0 : static_cast<size_t>(std::min<long long>(count, end - offset));
}

ssize_t pread(int file, void* into, size_t count, off_t offset) {
  const size_t left = left_of(file, offset, count);
  return left == 0 && count != 0
             ? 0
             : next<ssize_t (*)(int, void*, size_t, off_t)>("pread")(file, into, left, offset);
}

ssize_t pread64(int file, void* into, size_t count, off_t offset) {
  return pread(file, into, count, offset);
}

// Checks a write of `total` bytes into a created file and plants the faults asked for on it:
// false when the disk is to be full.
bool may_write(int file, long long total) {
  struct stat info {};
  if (fstat(file, &info) != 0 || (info.st_mode & 077) != 0)
    abort();  // others could read the image while it is written
  if (const char* slow = getenv("TEXPORT_FAULT_SLOW_MS"))
    usleep(static_cast<useconds_t>(atoi(slow)) * 1000);
  const char* disk = getenv("TEXPORT_FAULT_DISK_BYTES");
  if (disk != nullptr && disk_bytes_written + total > atoll(disk)) {
    errno = ENOSPC;
    return false;
  }
  disk_bytes_written += total;
  return true;
}

// The tool writes its images with writev, and copies pixels with copy_file_range.
ssize_t writev(int file, const iovec* parts, int count) {
  const auto real = next<ssize_t (*)(int, const iovec*, int)>("writev");
  if (file < 0 || file >= 4096 || !created[file])
    return real(file, parts, count);
  if (const char* signal_number = getenv("TEXPORT_FAULT_INTERRUPT")) {
    real(file, parts, 1);
    raise(atoi(signal_number));
  }
  long long total = 0;
  for (int i = 0; i < count; ++i)
    total += static_cast<long long>(parts[i].iov_len);
  return may_write(file, total) ? real(file, parts, count) : -1;
}

ssize_t copy_file_range(int from, off_t* from_offset, int to, off_t* to_offset, size_t count,
                        unsigned flags) {
  if (getenv("TEXPORT_FAULT_NO_COPY") != nullptr) {
    errno = EXDEV;
    return -1;
  }
  if (from_offset != nullptr)
    count = left_of(from, *from_offset, count);
  if (count == 0)
    return 0;
  if (to >= 0 && to < 4096 && created[to] && !may_write(to, static_cast<long long>(count)))
    return -1;
  return next<ssize_t (*)(int, off_t*, int, off_t*, size_t, unsigned)>("copy_file_range")(
      from, from_offset, to, to_offset, count, flags);
}

// An image takes its name by a rename, or by a link where it was written with no name.
int took_name(int result) {
  static bool changed = false;
  if (const char* name = getenv("TEXPORT_FAULT_CHANGE"); !changed && name != nullptr) {
    changed = true;
    rename(getenv("TEXPORT_FAULT_REPLACE_WITH"), name);
  }
  return result;
}

int renameat(int from_folder, const char* from, int to_folder, const char* to) {
  return took_name(next<int (*)(int, const char*, int, const char*)>("renameat")(from_folder, from,
                                                                                 to_folder, to));
}

int linkat(int from_folder, const char* from, int to_folder, const char* to, int flags) {
  if ((flags & AT_EMPTY_PATH) != 0 && getenv("TEXPORT_FAULT_NO_NAMING") != nullptr) {
    errno = ENOENT;
    return -1;
  }
  const int result = next<int (*)(int, const char*, int, const char*, int)>("linkat")(
      from_folder, from, to_folder, to, flags);
  // A link by descriptor names an image; any other is a second name of an existing file.
  return (flags & AT_EMPTY_PATH) != 0 ? took_name(result) : result;
}

int fstatvfs(int file, struct statvfs* info) {
  const int result = next<int (*)(int, struct statvfs*)>("fstatvfs")(file, info);
  if (const char* free_bytes = getenv("TEXPORT_FAULT_FREE_BYTES"); result == 0 && free_bytes)
    info->f_bavail = static_cast<fsblkcnt_t>(atoll(free_bytes)) / info->f_frsize;
  return result;
}

}  // extern "C"
