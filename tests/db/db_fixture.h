#pragma once
// Real files and real zip archives for the database tests.
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/text.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/zip_archive.h"
#include "support/temp_folder.h"

namespace nx::test {

using Members = std::vector<std::pair<std::string, std::string>>;

inline void writeZip(const std::wstring& path, const Members& members) {
  ZipFile zip(path);
  for (const auto& [name, content] : members) ZipWriter(zip, name.c_str()).write(content.data(), content.size());
}

inline void writeFile(const std::wstring& path, const std::string& content) {
  FileWriter out(path);
  out.write(content.data(), content.size());
  out.close();
}

inline std::string readFile(const std::wstring& path) {
  std::string text;
  StringWriter collect(text);
  readFileToWriter(path, collect, neverCancelled);
  return text;
}

inline std::string gzip(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The message of what the call throws; empty when it does not throw.
inline std::string errorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return std::string();
}

// A valid metadata.json; each (key, json) pair replaces that key's value, and
// an empty json drops the key.
inline std::string metadataJson(const std::vector<std::pair<std::string, std::string>>& changes = {}) {
  std::vector<std::pair<std::string, std::string>> keys = {
      {"format", "3"}, {"timestamp", "\"t\""}, {"version", "\"1.2.3\""}, {"update_url", "[\"http://a/\", \"http://b/\"]"},
      {"tag", "\"stable\""}, {"setup", "[[\"vc\", true], [\"dx\", false]]"}, {"launch", "\"run.exe\""},
      {"apply", "[\"applier.exe\"]"}, {"modules", "[\"main\", \"a\", \"b\", \"c\"]"}, {"main", "\"main\""},
      {"lang", "\"en\""}, {"arch", "\"x86_64\""}};
  for (const auto& change : changes) {
    auto same = [&](const auto& entry) { return entry.first == change.first; };
    auto found = std::find_if(keys.begin(), keys.end(), same);
    if (found == keys.end()) keys.push_back(change); else found->second = change.second;
  }
  std::string text;
  for (const auto& [key, json] : keys)
    if (!json.empty()) text += (text.empty() ? "{" : ", ") + ("\"" + key + "\": " + json);
  return text + "}";
}

inline std::string quoted(const std::wstring& path) { return "\"" + toUtf8(path) + "\""; }

}  // namespace nx::test
