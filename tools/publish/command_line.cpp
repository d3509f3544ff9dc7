#include "publish/command_line.h"

#include <stdexcept>

#include "base/text.h"
#include "publish/desktop_entry.h"
#include "publish/install_image.h"
#include "publish/publish_release.h"

namespace nx::publish {

namespace {

const char* const kUsage =
    "usage: publish release DESCRIPTION PRODUCT_FOLDER REPOSITORY\n"
    "                       [--channel CHANNEL] [--timestamp TIME] [--base-url URL] [--add PATH=FILE]...\n"
    "                       [--follow-links]\n"
    "       publish image REPOSITORY VERSION TARGET_FOLDER\n"
    "                     [--channel CHANNEL] [--arch ARCH] [--lang LANG] [--module NAME]...\n"
    "                     [--desktop-entry FILE]\n"
    "       publish --help | --version\n";

const char* const kVersion = "publish (VELTRA autoupdate) 1.0\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Splits positional words from "--name value" options and "--name" flags;
// an option's value is given as the next word or after "=".
struct Words {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> flags;

  Words(const std::vector<std::string>& words, size_t first, const std::vector<std::string>& known,
        const std::vector<std::string>& knownFlags = {}) {
    for (size_t i = first; i < words.size(); ++i) {
      const std::string& word = words[i];
      if (!word.starts_with("--")) {
        positional.push_back(word);
        continue;
      }
      std::string name = word.substr(2), value;
      size_t eq = name.find('=');
      bool isFlag = false;
      for (const std::string& f : knownFlags) isFlag = isFlag || f == name.substr(0, eq);
      if (isFlag) {
        if (eq != std::string::npos) throw UsageError("option --" + name.substr(0, eq) + " takes no value");
        flags.push_back(name);
        continue;
      }
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
      } else {
        if (i + 1 >= words.size()) throw UsageError("option --" + name + " needs a value");
        value = words[++i];
      }
      bool ok = false;
      for (const std::string& k : known) ok = ok || k == name;
      if (!ok) throw UsageError("unknown option --" + name);
      options.emplace_back(name, value);
    }
  }

  std::string single(const std::string& name) const {
    std::string value;
    int count = 0;
    for (const auto& [n, v] : options)
      if (n == name) {
        value = v;
        ++count;
      }
    if (count > 1) throw UsageError("option --" + name + " given twice");
    if (count == 1 && value.empty()) throw UsageError("option --" + name + " needs a value");
    return value;
  }

  bool flag(const std::string& name) const {
    for (const std::string& f : flags)
      if (f == name) return true;
    return false;
  }

  std::vector<std::string> all(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& [n, v] : options)
      if (n == name) values.push_back(v);
    return values;
  }
};

int release(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  Words w(words, 1, {"channel", "timestamp", "base-url", "add"}, {"follow-links"});
  if (w.positional.size() != 3) throw UsageError("release needs DESCRIPTION PRODUCT_FOLDER REPOSITORY");
  ReleaseOptions options;
  options.description = fromUtf8(w.positional[0]);
  options.product = fromUtf8(w.positional[1]);
  options.repository = fromUtf8(w.positional[2]);
  options.channel = w.single("channel");
  options.timestamp = w.single("timestamp");
  options.baseUrl = w.single("base-url");
  options.followLinks = w.flag("follow-links");
  for (const std::string& add : w.all("add")) {
    size_t eq = add.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == add.size()) throw UsageError("--add takes PATH=FILE");
    options.extraFiles.emplace_back(add.substr(0, eq), fromUtf8(add.substr(eq + 1)));
  }
  ReleaseResult r = publishRelease(options);
  for (const std::string& warning : r.warnings) err << "publish: warning: " << warning << "\n";
  out << "published version " << r.version << " (" << r.timestamp << ") on channel " << r.channel << ": " << r.files
      << " files, " << r.newObjects << " new objects, database " << r.databaseId << " (" << r.databaseSize
      << " bytes)\n";
  return 0;
}

int image(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  Words w(words, 1, {"channel", "arch", "lang", "module", "desktop-entry"});
  if (w.positional.size() != 3) throw UsageError("image needs REPOSITORY VERSION TARGET_FOLDER");
  ImageOptions options;
  options.repository = fromUtf8(w.positional[0]);
  options.version = w.positional[1];
  options.target = fromUtf8(w.positional[2]);
  options.channel = w.single("channel");
  options.arch = w.single("arch");
  options.lang = w.single("lang");
  options.modules = w.all("module");
  const std::string desktopEntry = w.single("desktop-entry");
  ImageResult r = makeImage(options);
  if (!desktopEntry.empty()) writeDesktopEntry(options.target, fromUtf8(desktopEntry));
  for (const std::string& note : r.notes) err << "publish: " << note << "\n";
  std::string modules;
  for (const std::string& m : r.modules) modules += (modules.empty() ? "" : ",") + m;
  out << "installed version " << r.version << " (" << r.timestamp << ") of channel " << r.channel << " into "
      << w.positional[2] << ": " << r.files << " files, arch " << r.arch << ", lang " << r.lang << ", modules "
      << modules << "\n";
  return 0;
}

}  // namespace

int runPublish(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  try {
    if (words.empty()) throw UsageError("no command");
    // Asked for anywhere ("publish image --help" too), these answer and do nothing else.
    for (const std::string& word : words) {
      if (word == "--version") {
        out << kVersion;
        return 0;
      }
      if (word == "--help" || word == "-h" || words[0] == "help") {
        out << kUsage;
        return 0;
      }
    }
    if (words[0] == "release") return release(words, out, err);
    if (words[0] == "image") return image(words, out, err);
    throw UsageError("unknown command \"" + words[0] + "\"");
  } catch (const UsageError& e) {
    err << "publish: " << e.what() << "\n" << kUsage;
    return 2;
  } catch (const std::exception& e) {
    // A system's error text may end with its own line break (Windows' do).
    std::string_view text = e.what();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    err << "publish: " << text << "\n";
    return 1;
  }
}

}  // namespace nx::publish
