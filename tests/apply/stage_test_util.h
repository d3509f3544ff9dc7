#pragma once
// Helpers for the hand-over tests: programs that record how they were started,
// small update databases, private staging folders.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "io/handmade_zip.h"
#include "io/io_test_util.h"
#include "support/platform.h"
#include "support/temp_folder.h"

namespace nx::test {

// A program that writes its arguments, one a line, to record (complete once
// it appears) and exits with code.
inline void recorder(const std::string& path, const std::string& record, int code = 0) {
  if (onWindows) {  // a copy of tests/programs/recorder.cpp, told what to do by a file beside it
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(NX_BUILD_DIR "/recorder.exe", path, fs::copy_options::overwrite_existing);
    return writeAll(path + ".how", record + "\n" + std::to_string(code) + "\n");
  }
  writeAll(path, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record + ".part'\nmv '" + record + ".part' '" + record +
                     "'\nexit " + std::to_string(code) + "\n");
  fs::permissions(path, fs::perms(0755));
}

// Contents of a file that another process writes, once it appears; empty
// after ten seconds.
inline std::string waitForFile(const std::string& path) {
  for (int i = 0; i < 2000 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return readAll(path);
}

inline std::string lines(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += w + "\n";
  return out;
}

// An update database holding only metadata.json; keys map to JSON values.
inline void writeDatabase(const std::string& path, const std::map<std::string, std::string>& keys) {
  std::map<std::string, std::string> all = {{"format", "1"},
                                            {"version", "\"2.0\""},
                                            {"timestamp", "\"t2\""},
                                            {"tag", "\"stable\""},
                                            {"main", "\"main\""},
                                            {"setup", "[]"},
                                            {"update_url", "[\"file:///nowhere\"]"},
                                            {"modules", "[\"main\", \"maps\", \"music\"]"},
                                            {"launch", "[\"run.sh\"]"},
                                            {"apply", "[\"bin/fake_applier" + exeSuffix + "\"]"}};
  for (auto& [key, value] : keys) all[key] = value;
  std::string json;
  for (const auto& [key, value] : all) json += (json.empty() ? "{" : ", ") + ("\"" + key + "\": " + value);
  writeAll(path, handmadeZip({deflatedMember("metadata.json", json + "}")}));
}

// A folder private to the user, as a staging folder must be.
inline std::string privateFolder(const std::string& path) {
  fs::create_directories(path);
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

// Folders laid out as a user's: the installation, the write folder, and a
// staging folder in the temp folder.
class StageFolders : public ::testing::Test {
 protected:
  TempFolder dir;
  const std::string root = toUtf8(dir.path()), base = root + "/base", write = root + "/data/VELTRA";
  const std::string temp = root + "/cache/VELTRA", staging = privateFolder(temp + "/update");
};

}  // namespace nx::test
