// Preloaded into the tool by the fault tests. It checks that every file the tool creates is
// created exclusively and stays private while it is written, and on request plants faults at the
// moment the tool acts:
//   TEXPORT_FAULT_VANISH=NAME         NAME is deleted just before its first open
//   TEXPORT_FAULT_REPLACE=NAME        NAME is replaced by the file, folder or FIFO at
//   TEXPORT_FAULT_REPLACE_WITH=PATH   PATH just before its first open
//   TEXPORT_FAULT_SHRINK=NAME         NAME reads as ended before the length the tool was told
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
  const int file = next<int (*)(int, const char*, int, ...)>("openat")(folder, path, flags, mode);
  if (file >= 0 && file < 4096)
    created[file] = (flags & O_CREAT) != 0;
  if (names(path, "TEXPORT_FAULT_SHRINK"))
    shrunk = file;
  return file;
}

mode_t mode_argument(int flags, va_list args) {
  return (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
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

ssize_t read(int file, void* into, size_t count) {
  return file == shrunk ? 0 : next<ssize_t (*)(int, void*, size_t)>("read")(file, into, count);
}

// The tool writes its images with writev, and nothing else.
ssize_t writev(int file, const iovec* parts, int count) {
  const auto real = next<ssize_t (*)(int, const iovec*, int)>("writev");
  if (file < 0 || file >= 4096 || !created[file])
    return real(file, parts, count);
  struct stat info {};
  if (fstat(file, &info) != 0 || (info.st_mode & 077) != 0)
    abort();  // others could read the image while it is written
  if (const char* slow = getenv("TEXPORT_FAULT_SLOW_MS"))
    usleep(static_cast<useconds_t>(atoi(slow)) * 1000);
  if (const char* signal_number = getenv("TEXPORT_FAULT_INTERRUPT")) {
    real(file, parts, 1);
    raise(atoi(signal_number));
  }
  long long total = 0;
  for (int i = 0; i < count; ++i)
    total += static_cast<long long>(parts[i].iov_len);
  const char* disk = getenv("TEXPORT_FAULT_DISK_BYTES");
  if (disk != nullptr && disk_bytes_written + total > atoll(disk)) {
    errno = ENOSPC;
    return -1;
  }
  disk_bytes_written += total;
  return real(file, parts, count);
}

int renameat(int from_folder, const char* from, int to_folder, const char* to) {
  static bool changed = false;
  const int result = next<int (*)(int, const char*, int, const char*)>("renameat")(
      from_folder, from, to_folder, to);
  if (const char* name = getenv("TEXPORT_FAULT_CHANGE"); !changed && name != nullptr) {
    changed = true;
    rename(getenv("TEXPORT_FAULT_REPLACE_WITH"), name);
  }
  return result;
}

int fstatvfs(int file, struct statvfs* info) {
  const int result = next<int (*)(int, struct statvfs*)>("fstatvfs")(file, info);
  if (const char* free_bytes = getenv("TEXPORT_FAULT_FREE_BYTES"); result == 0 && free_bytes)
    info->f_bavail = static_cast<fsblkcnt_t>(atoll(free_bytes)) / info->f_frsize;
  return result;
}

}  // extern "C"
