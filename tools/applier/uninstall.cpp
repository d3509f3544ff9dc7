#include "applier/uninstall.h"

#include <algorithm>
#include <unordered_set>

#include "applier/applier_error.h"
#include "applier/change_plan.h"
#include "applier/staging.h"
#include "applier/state_files.h"
#include "applier/transaction.h"
#include "base/paths.h"
#include "base/text.h"
#include "db/install_state.h"
#include "io/sha256_writer.h"
#include "sys/errors.h"
#include "sys/files.h"
#include "sys/no_follow.h"
#include "sys/owned_handle.h"

namespace nx::applier {

namespace {

// Logs/uninstall.log, replaced as a whole (never written through a link
// planted under its name).
void writeReport(WriteFolder& write, const std::vector<std::string>& lines, MiniLog& log) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  if (!write.replaceLogFile(L"uninstall.log", text))
    log.log(MiniLog::ERROR, "Can't write the uninstall report \"%s\": %s",
            toUtf8(joinPath(write.path(), L"Logs/uninstall.log")).c_str(), sys::errorMessage(sys::lastError()).c_str());
}

// A whole removal killed after its journal went leaves the set-aside copies
// of the applier (perhaps of autoupdate.cfg) and of the database. They go in
// that order, the database's last, so that until nothing else is left the
// updater still finds the installation and this program. Returns how many.
size_t dropRemovalMarkers(BaseTree& tree, TestHook& hook) {
  BaseTree::Folder root = tree.requireFolder("");
  const std::wstring database = Transaction::asideName("autoupdate.db");
  sys::EntryInfo entry;
  if (!sys::entryInfo(root, database, &entry) || entry.type != sys::EntryType::file) return 0;
  std::vector<TreePath> asides{{"", "autoupdate.cfg"}};
  sys::OwnedHandle file(sys::openFileAt(root, database));
  Database set;
  try {
    if (file.valid()) loadMetadata(kInvalidStructure, set, sys::handlePath(file.get()));
  } catch (const std::runtime_error& e) {
    failWithCode(kBadDatabase, std::string("the set-aside database cannot be read: ") + e.what());
  }
  file.reset();
  TreePath applier;
  if (!set.apply.empty() && splitTreePath(set.apply[0], &applier)) asides.insert(asides.begin(), applier);
  size_t count = 0;
  auto drop = [&](BaseTree::Folder folder, const TreePath& path) {
    if (!sys::entryInfo(folder, Transaction::asideName(path.name), &entry) || entry.type != sys::EntryType::file)
      return;
    if (!sys::deleteAt(folder, Transaction::asideName(path.name)))
      failWithCode(kReplaceFailed,
                   "cannot remove the old copy of \"" + path.full() + "\": " + sys::errorMessage(sys::lastError()));
    ++count;
    hook.step("remove old copy");
  };
  for (const TreePath& path : asides) {
    BaseTree::Reach reach;
    std::string where;
    BaseTree::Folder folder = tree.folder(path.folder, &reach, &where);
    if (folder == sys::invalidHandle) continue;
    drop(folder, path);
    folder = BaseTree::Folder();
    for (std::string up = path.folder; !up.empty() && tree.removeFolderIfEmpty(up); up = parentOf(up))
      hook.step("remove emptied folder");
  }
  drop(root, TreePath{"", "autoupdate.db"});
  return count;
}

void uninstallWithReport(const Request& request, WriteFolder& write, MiniLog& log, TestHook& hook,
                         std::vector<std::string>& report) {
  // A whole removal that an earlier, killed run began has been finished by
  // the recovery before this: nothing is installed any more.
  sys::FileInfo state;
  if (request.modules.empty() && !sys::fileInfo(joinPath(request.base, L"autoupdate.db"), &state) &&
      !sys::fileInfo(joinPath(request.base, L"autoupdate.cfg"), &state)) {
    BaseTree tree(request.base);
    if (size_t dropped = dropRemovalMarkers(tree, hook))
      report.push_back("removed " + std::to_string(dropped) + " set-aside copies");
    report.push_back("Uninstall complete: nothing is installed in \"" + toUtf8(request.base) + "\"");
    return;
  }
  BaseTree tree(request.base);
  Database installed;
  checkStateFiles(tree);
  loadInstalledDatabase(request.base, installed);
  const bool whole = request.modules.empty();
  report.push_back("Uninstall from \"" + toUtf8(request.base) + "\", version " + installed.version + ": " +
                   (whole ? std::string("the whole product") : "modules"));
  for (const auto& name : request.modules) {
    if (!installed.modules.count(name)) failWithCode(kBadArguments, "Unknown module to uninstall: " + name);
    if (name == installed.main)
      failWithCode(kBadArguments, "the main module \"" + name + "\" is removed only with the whole product");
    report.back() += " " + name;
  }

  Database from = installed, to = installed;
  for (const auto& name : request.modules) {
    from.modules[name] = true;
    to.modules[name] = false;
  }
  loadInstalledFileLists(request.base, from, "installed database");
  std::unordered_set<std::string> kept;
  if (!whole) {
    loadInstalledFileLists(request.base, to, "installed database");
    for (const auto& [path, record] : to.files) {
      TreePath split;
      if (splitTreePath(path, &split)) kept.insert(split.full());
    }
  }
  std::vector<std::string> paths;
  for (const auto& [path, record] : from.files) paths.push_back(path);
  std::sort(paths.begin(), paths.end());

  ChangePlan plan(tree, log);
  std::vector<TreePath> removed;
  for (const auto& path : paths) {
    TreePath split;
    if (!splitTreePath(path, &split))
      failWithCode(kPathRefused, "the installed database lists the path \"" + path +
                                     "\", which would leave the base folder; refused");
    if (kept.count(split.full()) || isStateFileName(split.full()) || Transaction::isWorkName(split.name)) continue;
    if (plan.placeForRemove(split)) removed.push_back(split);
  }
  // In a whole removal the applier program goes last but for the database,
  // so that wherever a kill stops it, the next `uninstall *` still finds
  // the database (or its set-aside copy) and the program that settles it.
  TreePath applier;
  const bool applierLast = whole && !installed.apply.empty() && splitTreePath(installed.apply[0], &applier);
  for (const auto& path : removed)
    if (!applierLast || path.full() != applier.full()) plan.remove(path);

  std::string stateText;
  NewFile cfg;
  if (whole) {
    // The state files go last, the database last of all.
    for (const char* state : {"Config/lang.cfg", "autoupdate.cfg", "autoupdate.db"}) {
      TreePath split;
      splitTreePath(state, &split);
      if (split.full() == "autoupdate.db" && applierLast &&
          std::any_of(removed.begin(), removed.end(), [&](const TreePath& p) { return p.full() == applier.full(); }))
        plan.remove(applier);
      bool listed = std::any_of(removed.begin(), removed.end(), [&](const TreePath& p) { return p.full() == state; });
      if (!listed && plan.placeForRemove(split)) {
        plan.remove(split);
        removed.push_back(split);
      }
    }
  } else {
    stateText = installStateText(to);
    cfg.path = TreePath{"", "autoupdate.cfg"};
    sys::EntryInfo entry = plan.placeForWrite(cfg.path);
    if (entry.type == sys::EntryType::file) {
      cfg.ownerKnown = true;
      cfg.owner = entry.owner;
      cfg.group = entry.group;
    }
    Sha256Writer sha;
    sha.write(stateText.data(), stateText.size());
    sha.finish(cfg.digest);
    cfg.size = stateText.size();
    ContentSource source;
    source.kind = ContentSource::Kind::text;
    source.text = &stateText;
    cfg.sources.push_back(source);
    plan.write(cfg.path, cfg.digest, cfg.size, entry.type == sys::EntryType::file);
  }
  log.log(MiniLog::INFO, "Uninstall: %zu files to remove", removed.size());

  Transaction tx(tree, write, log, hook);
  try {
    tx.begin(plan.journal(request.base, whole ? CacheFate::drop : CacheFate::keep));
    if (!whole) {
      resolveFolders(tree, tree, cfg);
      stageFile(cfg, log);
      hook.step("stage");
    }
    tx.commit();
  } catch (const ApplierError& e) {
    tx.rollback();
    throw ApplierError(e.code == kPathRefused ? e.code : kReplaceFailed,
                       std::string(e.what()) + "; nothing was removed");
  } catch (const std::exception& e) {
    tx.rollback();
    throw ApplierError(kReplaceFailed, std::string(e.what()) + "; nothing was removed");
  }
  for (const auto& path : removed) report.push_back("removed " + path.full());
  report.push_back("Uninstall complete: " + std::to_string(removed.size()) + " files removed");
}

}  // namespace

void uninstall(const Request& request, WriteFolder& write, MiniLog& log, TestHook& hook) {
  std::vector<std::string> report;
  try {
    uninstallWithReport(request, write, log, hook, report);
  } catch (const std::exception& e) {
    report.push_back(std::string("Uninstall failed: ") + e.what());
    writeReport(write, report, log);
    throw;
  }
  writeReport(write, report, log);
  log.log(MiniLog::INFO, "%s", report.back().c_str());
}

}  // namespace nx::applier
