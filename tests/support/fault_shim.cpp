// Preloaded into the tool by the fault tests. It checks that every file the tool creates is
// created exclusively, and on request plants faults at the moment the tool acts:
//   TEXPORT_FAULT_VANISH=NAME         NAME is deleted just before its first open
//   TEXPORT_FAULT_REPLACE=NAME        NAME is replaced by the file, folder or FIFO at
//   TEXPORT_FAULT_REPLACE_WITH=PATH   PATH just before its first open
//   TEXPORT_FAULT_DISK_BYTES=N        the disk is full once N bytes went into created files
//   TEXPORT_FAULT_INTERRUPT=1         SIGTERM arrives while the first created file is half written
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

bool created[4096];  // descriptors of files the tool created
long long disk_bytes_written = 0;

bool names(const char* path, const char* variable) {
  const char* wanted = getenv(variable);
  return wanted != nullptr && path != nullptr && strcmp(path, wanted) == 0;
}

void before_open(const char* path, int flags) {
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
}

// The bytes of a write to a created file that still fit on the disk; -1 when none.
ssize_t room_for(int file, size_t count) {
  if (file < 0 || file >= 4096 || !created[file])
    return static_cast<ssize_t>(count);
  if (getenv("TEXPORT_FAULT_INTERRUPT") != nullptr)
    return count > 1 ? static_cast<ssize_t>(count / 2) : 1;
  const char* disk = getenv("TEXPORT_FAULT_DISK_BYTES");
  const long long room =
      disk == nullptr ? static_cast<long long>(count) : atoll(disk) - disk_bytes_written;
  if (room <= 0) {
    errno = ENOSPC;
    return -1;
  }
  return static_cast<ssize_t>(static_cast<long long>(count) < room ? count : room);
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int open_with(const char* name, const char* path, int flags, va_list args) {
  before_open(path, flags);
  const auto mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
  const int file = next<int (*)(const char*, int, ...)>(name)(path, flags, mode);
  if (file >= 0 && file < 4096)
    created[file] = (flags & O_CREAT) != 0;
  return file;
}

ssize_t written(int file, ssize_t wrote) {
  if (wrote > 0 && file >= 0 && file < 4096 && created[file]) {
    disk_bytes_written += wrote;
    if (getenv("TEXPORT_FAULT_INTERRUPT") != nullptr)
      raise(SIGTERM);
  }
  return wrote;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int file = open_with("open", path, flags, args);
  va_end(args);
  return file;
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int file = open_with("open64", path, flags, args);
  va_end(args);
  return file;
}

ssize_t write(int file, const void* data, size_t count) {
  const ssize_t room = room_for(file, count);
  if (room < 0)
    return -1;
  return written(file, next<ssize_t (*)(int, const void*, size_t)>("write")(file, data, room));
}

ssize_t writev(int file, const iovec* parts, int count) {
  size_t total = 0;
  for (int i = 0; i < count; ++i)
    total += parts[i].iov_len;
  const ssize_t room = room_for(file, total);
  if (room < 0)
    return -1;
  if (static_cast<size_t>(room) < total)  // a short write: only what fits, from the first part on
    for (int i = 0; i < count; ++i)
      if (parts[i].iov_len > 0)
        return written(file,
                       next<ssize_t (*)(int, const void*, size_t)>("write")(
                           file, parts[i].iov_base,
                           parts[i].iov_len < static_cast<size_t>(room) ? parts[i].iov_len : room));
  return written(file, next<ssize_t (*)(int, const iovec*, int)>("writev")(file, parts, count));
}

}  // extern "C"
