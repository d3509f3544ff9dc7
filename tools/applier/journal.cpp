#include "applier/journal.h"

#include <cstdio>

#include "applier/applier_error.h"
#include "applier/base_tree.h"
#include "applier/content_stream.h"
#include "base/paths.h"
#include "base/text.h"
#include "db/object_id.h"
#include "sys/errors.h"
#include "sys/no_follow.h"
#include "sys/owned_handle.h"

namespace nx::applier {

namespace {

const char* const kHeader = "VELTRA applier journal 1";
// A journal lists one line per file; far below this even for huge products.
constexpr size_t kMaxJournalBytes = 64u << 20;

std::string escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == '%' || c == 0x7F) {
      char buffer[4];
      std::snprintf(buffer, sizeof buffer, "%%%02X", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool unescape(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    std::string hex = text.substr(i + 1, 2);
    if (hex.find_first_not_of("0123456789ABCDEF") != std::string::npos) return false;
    *out += static_cast<char>(std::stoi(hex, nullptr, 16));
    i += 2;
  }
  return true;
}

const char* phaseWord(Phase phase) {
  switch (phase) {
    case Phase::commit:
      return "commit";
    case Phase::rollback:
      return "rollback";
    case Phase::done:
      return "done";
    default:
      return "";
  }
}

const char* cacheWord(CacheFate fate) {
  switch (fate) {
    case CacheFate::pending:
      return "pending";
    case CacheFate::drop:
      return "drop";
    default:
      return "keep";
  }
}

std::string text(const Journal& journal) {
  std::string out = std::string(kHeader) + "\n";
  out += "base " + escape(toUtf8(journal.base)) + "\n";
  out += std::string("cache ") + cacheWord(journal.cache) + "\n";
  for (const auto& folder : journal.createdFolders) out += "created " + folder + "\n";
  for (const auto& folder : journal.emptiedFolders) out += "emptied " + folder + "\n";
  for (const auto& op : journal.ops) {
    if (op.kind == JournalOp::Kind::write)
      out += "write " + op.digest + " " + std::to_string(op.size) + (op.hadOld ? " 1 " : " 0 ") + op.path + "\n";
    else
      out += "remove " + op.path + "\n";
  }
  out += "end\n";
  if (journal.phase != Phase::staging) out += std::string(phaseWord(journal.phase)) + "\n";
  return out;
}

[[noreturn]] void damaged(const std::wstring& path, const std::string& why) {
  failWithCode(kRecoveryFailed, "the journal \"" + toUtf8(path) + "\" of an interrupted run is damaged (" + why +
                                    "); check the installation and remove the journal");
}

bool writeAll(sys::Handle handle, const std::string& bytes) {
  size_t written = 0;
  if (!sys::write(handle, bytes.data(), bytes.size(), &written)) return false;
  if (written != bytes.size()) {
    sys::setLastError(sys::diskFull);
    return false;
  }
  return true;
}

// The journal belongs to the installation's owner, readable by all, whoever
// runs this: a user's own applier must be able to settle what an elevated
// run left in the user's installation.
bool adopt(sys::Handle file, const std::wstring& path) {
  sys::OwnedHandle folder(sys::openFolder(parentFolder(path)));
  sys::EntryInfo owner;
  return folder.valid() && sys::handleEntryInfo(folder.get(), &owner) && sys::setMode(file, 0644) &&
         (sys::effectiveUser() != 0 || sys::setOwner(file, owner.owner, owner.group));
}

bool safePath(const std::string& path) {
  TreePath split;
  return splitTreePath(path, &split) && split.full() == path;
}

}  // namespace

std::wstring journalPath(BaseTree& tree) { return sys::handlePath(tree.requireFolder(""), L"applier.journal"); }
std::wstring journalShownPath(const BaseTree& tree) { return joinPath(tree.root(), L"applier.journal"); }

JournalFile::JournalFile(const std::wstring& path, const std::wstring& shown, const Journal& journal)
    : path_(path), shown_(shown) {
  std::wstring temp;
  handle_.reset(sys::createUnique(path, &temp));
  bool ok = handle_.valid() && adopt(handle_.get(), path) && writeAll(handle_.get(), text(journal)) &&
            sys::flush(handle_.get()) && sys::replaceFile(temp, path);
  if (!ok) {
    uint32_t error = sys::lastError();
    handle_.reset();
    if (!temp.empty()) sys::deleteFile(temp);
    failWithCode(kReplaceFailed, "cannot write the journal \"" + toUtf8(shown) + "\": " + sys::errorMessage(error));
  }
}

JournalFile::~JournalFile() = default;

void JournalFile::mark(Phase phase) {
  if (!writeAll(handle_.get(), std::string(phaseWord(phase)) + "\n") || !sys::flush(handle_.get()))
    failWithCode(phase == Phase::rollback ? kRecoveryFailed : kReplaceFailed,
                 "cannot write to the journal \"" + toUtf8(shown_) + "\": " + sys::errorMessage(sys::lastError()));
}

bool JournalFile::remove() {
  handle_.reset();
  return sys::deleteFile(path_) || sys::lastError() == sys::fileNotFound;
}

std::optional<Journal> readJournal(const std::wstring& path, const std::wstring& shown) {
  // Opened without following a link, as everything in the base folder.
  sys::OwnedHandle folder(sys::openFolder(parentFolder(path)));
  if (!folder.valid()) return std::nullopt;
  sys::OwnedHandle file(sys::openFileAt(folder.get(), fileNamePart(path)));
  uint32_t openError = sys::lastError();
  folder.reset();
  if (!file.valid()) {
    if (openError == sys::fileNotFound) return std::nullopt;
    damaged(shown, "cannot open it: " + sys::errorMessage(openError));
  }
  std::string bytes;
  BoundedRead read = readBounded(file.get(), kMaxJournalBytes, &bytes);
  file.reset();
  if (read == BoundedRead::failed) damaged(shown, "cannot read it");
  if (read == BoundedRead::tooLarge) damaged(shown, "too large");

  Journal journal;
  bool header = false, base = false, ended = false;
  size_t start = 0, lineNumber = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();  // a mark cut short by a crash
    std::string line = bytes.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    std::string where = "line " + std::to_string(lineNumber);
    if (!header) {
      if (line != kHeader) damaged(shown, "unknown format");
      header = true;
      continue;
    }
    if (ended) {
      // Marks only; a torn last mark is no mark.
      if (line == "commit") journal.phase = Phase::commit;
      if (line == "rollback") journal.phase = Phase::rollback;
      if (line == "done") journal.phase = Phase::done;
      continue;
    }
    size_t blank = line.find(' ');
    std::string word = line.substr(0, blank);
    std::string rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (word == "end" && rest.empty()) {
      ended = true;
    } else if (word == "base") {
      std::string value;
      if (!unescape(rest, &value) || value.empty()) damaged(shown, where);
      journal.base = fromUtf8(value);
      base = true;
    } else if (word == "cache") {
      if (rest == "keep")
        journal.cache = CacheFate::keep;
      else if (rest == "pending")
        journal.cache = CacheFate::pending;
      else if (rest == "drop")
        journal.cache = CacheFate::drop;
      else
        damaged(shown, where);
    } else if (word == "created" || word == "emptied") {
      if (!safePath(rest)) damaged(shown, where);
      (word == "created" ? journal.createdFolders : journal.emptiedFolders).push_back(rest);
    } else if (word == "remove") {
      if (!safePath(rest)) damaged(shown, where);
      JournalOp op;
      op.kind = JournalOp::Kind::remove;
      op.path = rest;
      journal.ops.push_back(op);
    } else if (word == "write") {
      // <digest> <size> <0|1> <path>
      JournalOp op;
      size_t a = rest.find(' '), b = a == std::string::npos ? a : rest.find(' ', a + 1),
             c = b == std::string::npos ? b : rest.find(' ', b + 1);
      if (c == std::string::npos) damaged(shown, where);
      op.digest = rest.substr(0, a);
      std::string size = rest.substr(a + 1, b - a - 1), old = rest.substr(b + 1, c - b - 1);
      op.path = rest.substr(c + 1);
      if (!isObjectId(op.digest) || size.empty() || size.size() > 19 ||
          size.find_first_not_of("0123456789") != std::string::npos || (old != "0" && old != "1") || !safePath(op.path))
        damaged(shown, where);
      op.size = std::stoull(size);
      op.hadOld = old == "1";
      journal.ops.push_back(op);
    } else {
      damaged(shown, where);
    }
  }
  if (!header || !base || !ended) damaged(shown, "incomplete");
  return journal;
}

}  // namespace nx::applier
