#include "publish/desktop_entry.h"

#include "base/paths.h"
#include "base/text.h"
#include "db/database.h"
#include "db/install_state.h"
#include "io/file_writer.h"
#include "publish/publish_error.h"
#include "sys/files.h"

namespace nx::publish {

namespace {

// One word of an Exec line: quoted, with the characters that quoting
// reserves escaped, and then escaped once more as a desktop entry string
// (a backslash doubled); "%" is a field code unless doubled.
std::string execWord(const std::string& word) {
  std::string quoted = "\"";
  for (char c : word) {
    if (c == '"' || c == '`' || c == '$')
      quoted += std::string("\\\\") + c;
    else if (c == '\\')
      quoted += "\\\\\\\\";
    else if (c == '%')
      quoted += "%%";
    else
      quoted += c;
  }
  return quoted + '"';
}

// A value of a string key: a backslash is the escape character.
std::string stringValue(const std::string& value) {
  std::string out;
  for (char c : value) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

}  // namespace

std::string desktopEntryText(const std::wstring& target, const std::string& updaterPath) {
  const std::string folder = sys::nativePath(target);
  const std::string updater = sys::nativePath(joinPath(target, fromUtf8(updaterPath)));
  for (const std::string* s : {&folder, &updater})
    if (s->find_first_of("\r\n") != std::string::npos)
      throw PublishError("a desktop entry cannot name a path with a line break: " + *s);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.0\n"
         "Name=VELTRA\n"
         "Comment=Checks for an update, then starts VELTRA\n"
         "Exec=" +
         execWord(updater) +
         " check\n"
         "Path=" +
         stringValue(folder) +
         "\n"
         "Terminal=false\n"
         "Categories=Game;\n";
}

void writeDesktopEntry(const std::wstring& target, const std::wstring& file) {
  std::wstring absolute;
  if (!sys::fullPath(target, &absolute)) absolute = target;
  Database database;
  loadMetadata(kInvalidStructure, database, joinPath(absolute, L"autoupdate.db"));
  if (database.apply.size() < 2)
    throw PublishError("the release names no updater (the second \"apply\" entry) for a desktop entry to start");
  const std::string text = desktopEntryText(absolute, database.apply[1]);
  FileWriter writer(file);
  writer.write(text.data(), text.size());
  writer.close();
}

}  // namespace nx::publish
