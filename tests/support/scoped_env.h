#pragma once
// Sets (or, with nullptr, removes) an environment variable for the life of
// the object and puts back the previous state afterwards.
#include <stdlib.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace nx::test {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void set(const char* value) {
#ifdef _WIN32
    // An empty value removes the variable on Windows.
    ::_putenv_s(name_.c_str(), value ? value : "");
#else
    value ? ::setenv(name_.c_str(), value, 1) : ::unsetenv(name_.c_str());
#endif
  }
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace nx::test
