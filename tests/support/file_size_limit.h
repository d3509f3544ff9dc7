#pragma once
// A full disk, played by a file size limit: what call returns when it runs in
// a child process whose files may not grow past `limit` bytes. POSIX only
// (fork and RLIMIT_FSIZE): on Windows it returns "unsupported"; tests that
// need it skip themselves there (NX_POSIX_ONLY).
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <functional>
#include <string>

namespace nx::test {

inline std::string withFileSizeLimit(uint64_t limit, const std::function<std::string()>& call) {
#ifdef _WIN32
  (void)limit, (void)call;
  return "unsupported";
#else
  int out[2];
  if (::pipe(out) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &r);
    const std::string report = call();
    (void)!::write(out[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string report;
  char buffer[1024];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  if (child > 0) ::waitpid(child, nullptr, 0);
  return report;
#endif
}

}  // namespace nx::test
