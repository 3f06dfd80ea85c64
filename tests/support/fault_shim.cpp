// Preloaded into the tool by the fault-injection tests: it makes a source vanish, or swaps its
// content, at the moment the tool opens it, i.e. after the folder search has listed it.
//   TEXPORT_FAULT_VANISH=NAME          NAME is deleted just before its first open
//   TEXPORT_FAULT_REPLACE=NAME         NAME is replaced by ...
//   TEXPORT_FAULT_REPLACE_WITH=PATH    ... the file or folder at PATH, just before its first open
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

bool same_name(const char* path, const char* variable) {
  const char* wanted = getenv(variable);
  if (wanted == nullptr || path == nullptr)
    return false;
  const char* slash = strrchr(path, '/');
  return strcmp(slash != nullptr ? slash + 1 : path, wanted) == 0;
}

void before_open(const char* path) {
  static bool vanished = false;
  static bool replaced = false;
  if (!vanished && same_name(path, "TEXPORT_FAULT_VANISH")) {
    vanished = true;
    unlink(path);
  }
  if (!replaced && same_name(path, "TEXPORT_FAULT_REPLACE")) {
    replaced = true;
    if (const char* with = getenv("TEXPORT_FAULT_REPLACE_WITH")) {
      unlink(path);
      rename(with, path);
    }
  }
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

FILE* fopen(const char* path, const char* mode) {
  before_open(path);
  return next<FILE* (*)(const char*, const char*)>("fopen")(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
  before_open(path);
  return next<FILE* (*)(const char*, const char*)>("fopen64")(path, mode);
}

int open(const char* path, int flags, ...) {
  before_open(path);
  va_list args;
  va_start(args, flags);
  const auto mode = static_cast<mode_t>(va_arg(args, int));
  va_end(args);
  return next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  before_open(path);
  va_list args;
  va_start(args, flags);
  const auto mode = static_cast<mode_t>(va_arg(args, int));
  va_end(args);
  return next<int (*)(const char*, int, ...)>("open64")(path, flags, mode);
}

}  // extern "C"
