#pragma once
// The update database: a zip of JSON members (metadata.json and per-module
// file lists) read into one in-memory model.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/writer.h"

namespace nx {

struct FileRecord {
  std::string path;        // relative to the base folder; also the table key
  std::string hash;        // listed SHA-256, lowercase hex
  uint64_t size = 0;       // listed size
  std::string module;      // module whose list supplied the entry
  std::string local_hash;  // digest of the installed file when last hashed; empty when unknown
  uint64_t local_size = 0;
  uint64_t local_time = 0;  // FILETIME of the installed file at that moment
  bool executable = false;  // a program: the modules' "executable.json" lists it
};

struct SetupEntry {
  std::string name;
  bool flag = false;
};

struct Database {
  uint64_t format = 0;  // 0: no database installed
  std::string version;
  std::string timestamp;
  std::vector<std::string> update_url;
  std::string tag;
  std::string arch;
  std::string lang;
  std::unordered_map<std::string, bool> modules;  // name -> selected
  std::string main;
  std::vector<SetupEntry> setup;
  std::vector<std::string> launch;
  std::vector<std::string> apply;
  std::vector<std::vector<std::string>> exclusive_modules;
  std::unordered_map<std::string, FileRecord> files;  // path -> record
  // Whether a module read by loadFileLists had an "executable.json" member
  // (databases of older publishers have none: which files are programs is
  // then unknown).
  bool executablesListed = false;
  // The path a file list was refused for because it would leave the base
  // folder; empty otherwise.
  std::string refusedPath;
};

// Reads metadata.json of the archive at dbPath. Any failure throws IOError
// "parse_db_core" with dbPath (running out of memory included); a structural
// mismatch carries errorText.
void loadMetadata(const std::string& errorText, Database& db, const std::wstring& dbPath);

// Reads the file lists of every selected module (common, then arch, then
// language; filelist.json for a module without common.json) into db.files,
// later entries replacing earlier ones. Any failure throws IOError
// "parse_db_files" with dbPath: "invalid format" for a list that breaks the
// grammar, "invalid database structure" for a path that could leave the base
// folder (isSafeRelativePath; its path is kept in db.refusedPath) or a hash
// that is not an object id. A module's optional "executable.json" (an array
// of paths, ignored by readers that do not know it) marks its programs.
void loadFileLists(Database& db, const std::wstring& dbPath);
// One file list from source into db.files, its entries tagged with module.
// Throws runtime_error with the texts above (or a syntax error's).
void readFileList(Database& db, const std::string& module, Reader& source);

// Names of the selected modules, in table order.
std::vector<std::string> selectedModules(const Database& db);

}  // namespace nx
