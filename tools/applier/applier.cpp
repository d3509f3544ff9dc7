#include "applier/applier.h"

#include <memory>
#include <new>

#include "applier/applier_error.h"
#include "applier/command_line.h"
#include "applier/test_hook.h"
#include "applier/transaction.h"
#include "applier/uninstall.h"
#include "applier/update.h"
#include "applier/write_folder.h"
#include "base/mini_log_file.h"
#include "base/paths.h"
#include "base/text.h"
#include "sys/clock.h"
#include "sys/errors.h"
#include "sys/no_follow.h"

namespace nx::applier {

namespace {

bool isFolder(const std::wstring& path) {
  sys::FileInfo info;
  return sys::fileInfo(path, &info) && info.isFolder;
}

std::string joinWords(const std::vector<std::wstring>& words) {
  std::string line;
  for (const auto& word : words) {
    if (!line.empty()) line += ' ';
    line += '"';
    line += toUtf8(word);
    line += '"';
  }
  return line;
}

int report(std::ostream& err, MiniLog* log, int code, const std::string& message) {
  err << "applier: " << message << std::endl;
  if (log) log->log(MiniLog::ERROR, "Applier failed (exit code %d): %s", code, message.c_str());
  return code;
}

}  // namespace

int runApplier(const std::vector<std::wstring>& words, std::ostream& err) {
  Request request;
  try {
    request = parseArguments(words);
  } catch (const ApplierError& e) {
    report(err, nullptr, e.code, e.what());
    err << kUsage;
    return e.code;
  }
  std::unique_ptr<WriteFolder> write;
  try {
    write = std::make_unique<WriteFolder>(request.write, sys::invokingUser());
  } catch (const ApplierError& e) {
    return report(err, nullptr, e.code, e.what());
  }
  MiniLogFile log(write->openLog());
  try {
    TestHook hook(!sys::elevatedForOtherUser());
    log.log(MiniLog::INFO, "Applier started for user %u: %s", sys::invokingUser(), joinWords(words).c_str());
    if (!isFolder(request.base))
      failWithCode(kBadArguments, "the base folder \"" + toUtf8(request.base) + "\" does not exist");
    write->lock(hook.lockSeconds(), log);
    write->dropLeftovers();
    Transaction::recover(request.base, *write, log, hook);
    if (request.kind == Request::Kind::update)
      applyUpdate(request, *write, log, hook);
    else
      uninstall(request, *write, log, hook);
    log.log(MiniLog::INFO, "Applier finished");
    return kSuccess;
  } catch (const ApplierError& e) {
    return report(err, &log, e.code, e.what());
  } catch (const std::bad_alloc&) {
    return report(err, &log, kUnexpected, "out of memory");
  } catch (const std::exception& e) {
    return report(err, &log, kUnexpected, e.what());
  }
}

}  // namespace nx::applier
