#pragma once
// The object of one update run. For now it holds the log that every step of
// the run writes to.
#include <stdexcept>
#include <string>

#include "app/error_code.h"
#include "app/mini_log.h"

namespace nx {

class Autoupdater {
 public:
  // A failure of the run: a category and a message (which may be empty).
  class Fail : public std::runtime_error {
   public:
    Fail(ErrorCode code, const std::string& message) : std::runtime_error(message), code(code) {}
    ErrorCode code;
  };

  explicit Autoupdater(MiniLog& log) : log_(log) {}
  Autoupdater(const Autoupdater&) = delete;
  Autoupdater& operator=(const Autoupdater&) = delete;

  MiniLog& log() const { return log_; }

 private:
  MiniLog& log_;
};

}  // namespace nx
