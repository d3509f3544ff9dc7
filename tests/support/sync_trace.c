/* Preloaded into a program under test (LD_PRELOAD, Linux): appends to the
 * file named by NX_SYNC_TRACE one line per file created, flushed and renamed,
 * in the order the program did them:
 *   create NAME | fsync NAME | syncfs | rename FROM TO
 * (NAME is the last component of the path). A test reads it to check that
 * every file was on the disk before a rename made it count. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int trace_fd = -1;

static const char* last_part(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

static void note(const char* what, const char* a, const char* b) {
  if (trace_fd < 0) return;
  char line[1024];
  int n = snprintf(line, sizeof line, "%s%s%s%s%s\n", what, a ? " " : "", a ? last_part(a) : "", b ? " " : "",
                   b ? last_part(b) : "");
  if (n > 0 && (size_t)n < sizeof line && write(trace_fd, line, (size_t)n) < 0) {
  }
}

static void note_fd(const char* what, int fd) {
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path - 1);
  path[n > 0 ? n : 0] = '\0';
  note(what, path, NULL);
}

__attribute__((constructor)) static void start(void) {
  const char* path = getenv("NX_SYNC_TRACE");
  int (*real_open)(const char*, int, ...) = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
  if (path && real_open) trace_fd = real_open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

static int open_with(const char* name, int dir, const char* path, int flags, mode_t mode) {
  int fd = dir == -1 ? REAL(name, int (*)(const char*, int, ...))(path, flags, mode)
                     : REAL(name, int (*)(int, const char*, int, ...))(dir, path, flags, mode);
  if (fd >= 0 && (flags & O_CREAT)) note("create", path, NULL);
  return fd;
}

#define MODE_ARG(flags)                  \
  mode_t mode = 0;                       \
  if ((flags) & (O_CREAT | O_TMPFILE)) { \
    va_list args;                        \
    va_start(args, flags);               \
    mode = (mode_t)va_arg(args, int);    \
    va_end(args);                        \
  }

int open(const char* path, int flags, ...) {
  MODE_ARG(flags)
  return open_with("open", -1, path, flags, mode);
}
int open64(const char* path, int flags, ...) {
  MODE_ARG(flags)
  return open_with("open64", -1, path, flags, mode);
}
int openat(int dir, const char* path, int flags, ...) {
  MODE_ARG(flags)
  return open_with("openat", dir, path, flags, mode);
}
int openat64(int dir, const char* path, int flags, ...) {
  MODE_ARG(flags)
  return open_with("openat64", dir, path, flags, mode);
}

int fsync(int fd) {
  int r = REAL("fsync", int (*)(int))(fd);
  if (r == 0) note_fd("fsync", fd);
  return r;
}
int fdatasync(int fd) {
  int r = REAL("fdatasync", int (*)(int))(fd);
  if (r == 0) note_fd("fsync", fd);
  return r;
}
int syncfs(int fd) {
  int r = REAL("syncfs", int (*)(int))(fd);
  if (r == 0) note("syncfs", NULL, NULL);
  return r;
}
int rename(const char* from, const char* to) {
  int r = REAL("rename", int (*)(const char*, const char*))(from, to);
  if (r == 0) note("rename", from, to);
  return r;
}
int renameat(int a, const char* from, int b, const char* to) {
  int r = REAL("renameat", int (*)(int, const char*, int, const char*))(a, from, b, to);
  if (r == 0) note("rename", from, to);
  return r;
}
