#include "publish/update_database_writer.h"

#include <cerrno>

#include "base/text.h"
#include "db/json.h"
#include "io/io_error.h"
#include "io/zip_archive.h"
#include "publish/publish_error.h"
#include "sys/errors.h"

namespace nx::publish {

namespace {

void addMember(ZipFile& archive, const std::string& name, const std::string& text) {
  ZipWriter member(archive, name.c_str());
  member.write(text.data(), text.size());
  member.close();
}

}  // namespace

std::string generateMetadata(const ReleaseDescription& d, const std::string& timestamp) {
  // Keys in the order the updater reads them.
  return generateJson([&](yajl_gen gen) {
    jsonMapOpen(gen);
    jsonString(gen, "format");
    jsonInteger(gen, static_cast<int64_t>(d.format));
    jsonString(gen, "timestamp");
    jsonString(gen, timestamp);
    jsonString(gen, "version");
    jsonString(gen, d.version);
    jsonString(gen, "update_url");
    jsonStringArray(gen, d.update_url);
    jsonString(gen, "tag");
    jsonString(gen, d.tag);
    jsonString(gen, "setup");
    jsonArrayOpen(gen);
    for (const SetupEntry& entry : d.setup) {
      jsonArrayOpen(gen);
      jsonString(gen, entry.name);
      jsonBool(gen, entry.flag);
      jsonArrayClose(gen);
    }
    jsonArrayClose(gen);
    jsonString(gen, "launch");
    jsonStringArray(gen, d.launch);
    jsonString(gen, "apply");
    jsonStringArray(gen, d.apply);
    jsonString(gen, "modules");
    jsonArrayOpen(gen);
    for (const ModuleRule& m : d.modules) jsonString(gen, m.name);
    jsonArrayClose(gen);
    jsonString(gen, "main");
    jsonString(gen, d.main);
    if (!d.lang.empty()) {
      jsonString(gen, "lang");
      jsonString(gen, d.lang);
    }
    if (!d.arch.empty()) {
      jsonString(gen, "arch");
      jsonString(gen, d.arch);
    }
    if (!d.exclusive_modules.empty()) {
      jsonString(gen, "exclusive_modules");
      jsonArrayOpen(gen);
      for (const auto& group : d.exclusive_modules) jsonStringArray(gen, group);
      jsonArrayClose(gen);
    }
    jsonMapClose(gen);
  });
}

std::string generateFileList(const ReleaseContent& content, const std::string& module, const std::string& list) {
  bool any = false;
  for (const ReleaseFile& f : content.files)
    if (f.module == module && f.list == list) any = true;
  // The updater rejects an empty list: such a member is left out.
  if (!any) return {};
  return generateJson([&](yajl_gen gen) {
    jsonArrayOpen(gen);
    for (const ReleaseFile& f : content.files) {  // already sorted by path
      if (f.module != module || f.list != list) continue;
      jsonArrayOpen(gen);
      jsonString(gen, f.path);
      jsonString(gen, f.hash);
      jsonInteger(gen, static_cast<int64_t>(f.size));
      jsonArrayClose(gen);
    }
    jsonArrayClose(gen);
  });
}

void writeUpdateDatabase(const std::wstring& path, const ReleaseDescription& d, const std::string& timestamp,
                         const ReleaseContent& content) {
  // The zip library writes through the C runtime, which leaves the system's
  // reason for a failed write (a full disk) in errno.
  errno = 0;
  try {
    ZipFile archive(path);
    addMember(archive, "metadata.json", generateMetadata(d, timestamp));
    for (const ModuleRule& m : d.modules) {
      std::vector<std::string> lists{"common"};
      for (const auto& [arch, unused] : m.arch) lists.push_back("arch_" + arch);
      for (const auto& [lang, unused] : m.lang) lists.push_back("lang_" + lang);
      for (const std::string& list : lists) {
        std::string text = generateFileList(content, m.name, list);
        if (!text.empty()) addMember(archive, "modules/" + m.name + "/" + list + ".json", text);
      }
      // The module's programs, so an installation gets their execute
      // permission; readers that do not know the member never open it.
      std::vector<std::string> programs;
      for (const ReleaseFile& f : content.files)
        if (f.module == m.name && f.executable) programs.push_back(f.path);
      addMember(archive, "modules/" + m.name + "/executable.json",
                generateJson([&](yajl_gen gen) { jsonStringArray(gen, programs); }));
    }
    archive.close();  // only an explicit close reports an incomplete archive
  } catch (const IOError& e) {
    const int error = errno;
    std::string reason = e.what();
    const std::string text = error != 0 ? sys::errorMessage(static_cast<uint32_t>(error)) : "";
    if (!text.empty() && reason.find(text) == std::string::npos) reason += ": " + text;
    throw PublishError("cannot write the update database \"" + toUtf8(path) + "\": " + reason);
  }
}

}  // namespace nx::publish
