#include "publish/release_content.h"

#include <algorithm>
#include <map>

#include "base/text.h"
#include "io/file_reader.h"
#include "io/sha256_writer.h"
#include "publish/path_pattern.h"
#include "publish/publish_error.h"
#include "sys/errors.h"
#include "sys/files.h"
#include "sys/no_follow.h"
#include "sys/owned_handle.h"

namespace nx::publish {

namespace {

// Links are followed (within the product folder, or everywhere with
// --follow-links); a loop of them ends here.
constexpr int kMaxDepth = 64;

struct Listing {
  std::wstring root;  // the product folder with its links resolved, ending in '/'
  bool followLinks = false;
  std::vector<std::pair<std::string, std::wstring>>& out;
};

// Both separators count: a resolved path may use either.
std::wstring slashed(std::wstring path) {
  std::replace(path.begin(), path.end(), L'\\', L'/');
  return path;
}

bool isInside(const std::wstring& real, const std::wstring& root) {
  const std::wstring a = slashed(real), b = slashed(root);
  return a.starts_with(b) || a + L"/" == b;
}

void listInto(const std::wstring& folder, const std::string& prefix, int depth, Listing& listing) {
  if (depth > kMaxDepth) throw PublishError("folder nesting too deep (a loop of links?) at \"" + toUtf8(folder) + "\"");
  std::vector<sys::FolderEntry> entries;
  if (!sys::listFolder(folder, &entries))
    throw PublishError("cannot list the folder \"" + toUtf8(folder) + "\": " + sys::errorMessage(sys::lastError()));
  for (const sys::FolderEntry& entry : entries) {
    std::string name = toUtf8(entry.name);
    std::wstring full = folder + L"/" + entry.name;
    if (name == "#utf8_error")
      throw PublishError("file name is not valid UTF-8 (or holds a \"\\\") in \"" + toUtf8(folder) + "\"");
    std::string relative = prefix.empty() ? name : prefix + "/" + name;
    std::wstring real;
    // A link that leads out of the product folder publishes whatever it
    // points to: only on request.
    if (!listing.followLinks && sys::realPath(full, &real) && !isInside(real, listing.root))
      throw PublishError(std::string("product ") + (entry.isFolder ? "folder" : "file") + " \"" + relative +
                         "\" is a symbolic link that leaves the product folder (to \"" + toUtf8(real) +
                         "\"); give --follow-links to publish what it points to");
    if (entry.isFolder) {
      listInto(full, relative, depth + 1, listing);
      continue;
    }
    std::string problem = pathProblem(relative);
    if (!problem.empty()) throw PublishError("product file \"" + relative + "\" cannot be published: " + problem);
    sys::FileInfo info;
    if (!sys::fileInfo(full, &info))
      throw PublishError("product file \"" + relative + "\" cannot be read (a broken link?)");
    if (info.isDevice) throw PublishError("product file \"" + relative + "\" is not a regular file");
    listing.out.emplace_back(relative, full);
  }
}

}  // namespace

namespace {

struct Claim {
  std::string module;
  std::string list;
};

}  // namespace

std::vector<std::pair<std::string, std::wstring>> listProductFiles(const std::wstring& folder, bool followLinks) {
  sys::FileInfo info;
  std::wstring root;
  if (!sys::fileInfo(folder, &info) || !info.isFolder || !sys::realPath(folder, &root))
    throw PublishError("product folder \"" + toUtf8(folder) + "\" does not exist or is not a folder");
  std::vector<std::pair<std::string, std::wstring>> out;
  Listing listing{root.ends_with(L"/") ? root : root + L"/", followLinks, out};
  listInto(folder, "", 0, listing);
  std::sort(out.begin(), out.end());
  return out;
}

bool isExecutable(const std::wstring& path) {
  const sys::OwnedHandle file(sys::openRead(path));
  sys::EntryInfo info;
  return file.valid() && sys::handleEntryInfo(file.get(), &info) && info.executable;
}

std::string hashFile(const std::wstring& path, uint64_t* size) {
  Sha256Writer sha;
  readFileToWriter(path, sha, neverCancelled, size);
  std::string digest;
  return sha.finish(digest);
}

ReleaseContent buildReleaseContent(const ReleaseDescription& description,
                                   const std::vector<std::pair<std::string, std::wstring>>& productFiles) {
  ReleaseContent content;
  std::map<std::string, std::wstring> sources(productFiles.begin(), productFiles.end());

  // The files one pattern list picks.
  auto resolve = [&](const PatternList& patterns, const std::string& where) {
    std::vector<std::string> picked;
    for (const std::string& pattern : patterns) {
      size_t before = picked.size();
      if (isPattern(pattern)) {
        for (const auto& [path, source] : sources)
          if (matchPattern(pattern, path)) picked.push_back(path);
        if (picked.size() == before) throw PublishError(where + ": pattern \"" + pattern + "\" matches no file");
      } else if (sources.count(pattern)) {
        picked.push_back(pattern);
      } else {
        // A folder stands for everything below it.
        std::string prefix = pattern + "/";
        for (auto it = sources.lower_bound(prefix); it != sources.end() && it->first.starts_with(prefix); ++it)
          picked.push_back(it->first);
        if (picked.size() == before) {
          // Applier files usually come from a build, not from the product folder.
          const auto& apply = description.apply;
          const bool applier = std::find(apply.begin(), apply.end(), pattern) != apply.end();
          throw PublishError(where + ": no file \"" + pattern + "\" in the product folder" +
                             (applier ? "; add the applier file with --add " + pattern + "=FILE" : ""));
        }
      }
    }
    return picked;
  };

  std::map<std::string, Claim> claims;
  for (const ModuleRule& module : description.modules) {
    std::string where = "module \"" + module.name + "\"";
    std::map<std::string, std::string> variantOf;  // path -> list within this module
    auto claimVariant = [&](const std::string& list, const PatternList& patterns) {
      for (const std::string& path : resolve(patterns, where + " " + list)) {
        auto [it, inserted] = variantOf.emplace(path, list);
        if (!inserted && it->second != list)
          throw PublishError(where + ": \"" + path + "\" is listed for both " + it->second + " and " + list);
      }
    };
    for (const auto& [arch, patterns] : module.arch) claimVariant("arch_" + arch, patterns);
    for (const auto& [lang, patterns] : module.lang) claimVariant("lang_" + lang, patterns);

    std::map<std::string, std::string> lists(variantOf.begin(), variantOf.end());
    bool hasCommon = false;
    // Variant lists take their paths out of the common list.
    for (const std::string& path : resolve(module.files, where)) {
      if (lists.emplace(path, "common").second) hasCommon = true;
    }
    if (!hasCommon && !variantOf.empty())
      throw PublishError(where +
                         " has arch or language files but no common file; the updater reads those lists only "
                         "beside a common list");

    for (const auto& [path, list] : lists) {
      auto [it, inserted] = claims.emplace(path, Claim{module.name, list});
      if (!inserted)
        throw PublishError("\"" + path + "\" belongs to two modules, \"" + it->second.module + "\" and \"" +
                           module.name + "\"");
    }
  }

  for (const std::string& entry : description.apply) {
    auto it = claims.find(entry);
    if (it == claims.end() || it->second.module != description.main)
      throw PublishError("applier file \"" + entry + "\" is not a file of the main module \"" + description.main +
                         "\"" +
                         (sources.count(entry) ? "" : "; list it there and add it with --add " + entry + "=FILE"));
    if (it->second.list != "common")
      content.warnings.push_back("applier file \"" + entry + "\" is only in " + it->second.list +
                                 "; other installations cannot be updated");
  }
  for (const std::string& entry : description.launch)
    if (!claims.count(entry)) content.warnings.push_back("launch entry \"" + entry + "\" is not a file of the release");
  for (const auto& [path, source] : sources)
    if (!claims.count(path)) content.warnings.push_back("\"" + path + "\" belongs to no module and is not published");

  for (const auto& [path, claim] : claims) {
    if (isStateFileName(path))
      throw PublishError("product file \"" + path +
                         "\" cannot be published: the updater keeps the installation's own "
                         "state under that name");
    ReleaseFile file;
    file.path = path;
    file.source = sources[path];
    file.module = claim.module;
    file.list = claim.list;
    try {
      file.hash = hashFile(file.source, &file.size);
      file.executable = isExecutable(file.source);
    } catch (const std::runtime_error& e) {
      throw PublishError(std::string("cannot read product file: ") + e.what());
    }
    content.files.push_back(std::move(file));
  }
  return content;
}

}  // namespace nx::publish
