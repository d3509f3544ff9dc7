// Stand-in for an elevation helper such as pkexec, for the tests. Installed
// setuid root in a test's folder, it runs its arguments as root with a
// cleared environment that holds only PKEXEC_UID (the caller's user) and
// PATH, as pkexec does. 127: the program could not be run.
#include <unistd.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 127;
  const std::string user = std::to_string(::getuid());
  if (::setresgid(0, 0, 0) != 0 || ::setresuid(0, 0, 0) != 0) return 127;
  ::clearenv();
  ::setenv("PKEXEC_UID", user.c_str(), 1);
  ::setenv("PATH", "/usr/bin:/bin", 1);
  ::execv(argv[1], argv + 1);
  return 127;
}
