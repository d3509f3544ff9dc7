#include "publish/release_description.h"

#include <cstdio>
#include <set>

#include "base/text.h"
#include "db/json.h"
#include "io/file_reader.h"
#include "io/writer.h"
#include "publish/path_pattern.h"
#include "publish/publish_error.h"
#include "publish/user_json.h"
#include "sys/clock.h"

namespace nx::publish {

namespace {

class Checker {
 public:
  explicit Checker(std::string origin) : origin_(std::move(origin)) {}

  [[noreturn]] void fail(const std::string& what) const { throw PublishError(origin_ + ": " + what); }

  std::string string(yajl_val value, const std::string& key) const {
    if (!YAJL_IS_STRING(value)) fail("\"" + key + "\" must be a string");
    return YAJL_GET_STRING(value);
  }

  std::string word(yajl_val value, const std::string& key) const {
    std::string text = string(value, key);
    if (!isPlainWord(text))
      fail("\"" + key + "\" must be a word of letters, digits, \"_\", \"-\" or \".\", not \"" + text + "\"");
    return text;
  }

  // A string or an array of strings.
  std::vector<std::string> strings(yajl_val value, const std::string& key) const {
    std::vector<std::string> out;
    if (YAJL_IS_STRING(value)) {
      out.emplace_back(YAJL_GET_STRING(value));
      return out;
    }
    if (!YAJL_IS_ARRAY(value)) fail("\"" + key + "\" must be a string or an array of strings");
    for (size_t i = 0; i < value->u.array.len; ++i) {
      yajl_val element = value->u.array.values[i];
      if (!YAJL_IS_STRING(element)) fail("\"" + key + "\" must be a string or an array of strings");
      out.emplace_back(YAJL_GET_STRING(element));
    }
    return out;
  }

  std::vector<std::string> urls(yajl_val value, const std::string& key) const {
    std::vector<std::string> out = strings(value, key);
    if (out.empty()) fail("\"" + key + "\" must name at least one address");
    for (const std::string& url : out)
      if (url.empty()) fail("\"" + key + "\" holds an empty address");
    return out;
  }

  PatternList patterns(yajl_val value, const std::string& key) const {
    PatternList out = strings(value, key);
    for (const std::string& pattern : out) {
      std::string problem = pathProblem(pattern);
      if (!problem.empty()) fail("\"" + key + "\": path \"" + pattern + "\" is refused: " + problem);
    }
    return out;
  }

  std::vector<std::pair<std::string, PatternList>> variants(yajl_val value, const std::string& key,
                                                            bool lettersOnly) const {
    if (!YAJL_IS_OBJECT(value)) fail("\"" + key + "\" must be an object of file lists");
    std::vector<std::pair<std::string, PatternList>> out;
    for (size_t i = 0; i < value->u.object.len; ++i) {
      std::string name = value->u.object.keys[i];
      if (lettersOnly) {
        // The updater reads the language back from Config/lang.cfg as a run
        // of letters, lower-cased; any other word could never be selected.
        bool ok = !name.empty();
        for (char c : name)
          if (c < 'a' || c > 'z') ok = false;
        if (!ok) fail("\"" + key + "\": language \"" + name + "\" must be lower-case letters a-z");
      } else if (!isPlainWord(name)) {
        fail("\"" + key + "\": arch \"" + name + "\" must be a word of letters, digits, \"_\", \"-\" or \".\"");
      }
      for (const auto& [seen, unused] : out)
        if (seen == name) fail("\"" + key + "\" names \"" + name + "\" twice");
      out.emplace_back(name, patterns(value->u.object.values[i], key + "." + name));
    }
    return out;
  }

  ModuleRule module(const std::string& name, yajl_val value) const {
    ModuleRule rule;
    rule.name = name;
    std::string where = "modules." + name;
    if (!isPlainWord(name))
      fail("module name \"" + name + "\" must be a word of letters, digits, \"_\", \"-\" or \".\"");
    if (YAJL_IS_STRING(value) || YAJL_IS_ARRAY(value)) {
      rule.files = patterns(value, where);
      return rule;
    }
    if (!YAJL_IS_OBJECT(value)) fail("\"" + where + "\" must be an object or a list of paths");
    for (size_t i = 0; i < value->u.object.len; ++i) {
      std::string key = value->u.object.keys[i];
      yajl_val v = value->u.object.values[i];
      if (key == "files")
        rule.files = patterns(v, where + ".files");
      else if (key == "arch")
        rule.arch = variants(v, where + ".arch", false);
      else if (key == "lang")
        rule.lang = variants(v, where + ".lang", true);
      else
        fail("unknown key \"" + where + "." + key + "\"");
    }
    return rule;
  }

 private:
  std::string origin_;
};

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

const ModuleRule* ReleaseDescription::findModule(const std::string& name) const {
  for (const ModuleRule& m : modules)
    if (m.name == name) return &m;
  return nullptr;
}

bool isPlainWord(const std::string& word) {
  if (word.empty() || word == "." || word == "..") return false;
  for (char c : word) {
    bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

std::string timestampNow() {
  sys::UtcTime t;
  sys::utcNow(&t);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

std::string timestampAfter(const std::string& timestamp) {
  const std::string form = "dddd-dd-ddTdd:dd:ddZ";
  if (timestamp.size() != form.size()) return "";
  for (size_t i = 0; i < form.size(); ++i)
    if (form[i] == 'd' ? timestamp[i] < '0' || timestamp[i] > '9' : timestamp[i] != form[i]) return "";
  auto number = [&](size_t at, size_t digits) { return std::stoi(timestamp.substr(at, digits)); };
  int year = number(0, 4), month = number(5, 2), day = number(8, 2);
  int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > days[month - 1] || hour > 23 || minute > 59 || second > 59) return "";
  if (++second == 60) second = 0, ++minute;
  if (minute == 60) minute = 0, ++hour;
  if (hour == 24) hour = 0, ++day;
  if (day > days[month - 1]) day = 1, ++month;
  if (month == 13) month = 1, ++year;
  if (year > 9999) return "";
  char text[80];  // room for any int, as the compiler reckons
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, hour, minute, second);
  return text;
}

ReleaseDescription parseReleaseDescription(const std::string& text, const std::string& origin) {
  Checker check(origin);
  JsonTree tree;
  try {
    tree = parseUserJson(text);
  } catch (const std::runtime_error& e) {
    check.fail(e.what());
  }
  yajl_val root = tree.get();
  if (!YAJL_IS_OBJECT(root)) check.fail("the description must be a JSON object");

  ReleaseDescription d;
  std::set<std::string> seen;
  bool haveModules = false, haveLaunch = false, haveApply = false;
  for (size_t i = 0; i < root->u.object.len; ++i) {
    std::string key = root->u.object.keys[i];
    yajl_val v = root->u.object.values[i];
    if (!seen.insert(key).second) check.fail("key \"" + key + "\" appears twice");
    if (key == "format") {
      if (!YAJL_IS_INTEGER(v) || YAJL_GET_INTEGER(v) <= 0)
        check.fail("\"format\" must be a positive integer (0 means no database)");
      d.format = static_cast<uint64_t>(YAJL_GET_INTEGER(v));
    } else if (key == "version") {
      d.version = check.string(v, key);
      if (d.version.empty()) check.fail("\"version\" must not be empty");
    } else if (key == "tag") {
      d.tag = check.word(v, key);
    } else if (key == "timestamp") {
      d.timestamp = check.string(v, key);
      if (d.timestamp.empty()) check.fail("\"timestamp\" must not be empty");
    } else if (key == "update_url") {
      d.update_url = check.urls(v, key);
    } else if (key == "download_url") {
      d.download_url = check.urls(v, key);
    } else if (key == "main") {
      d.main = check.string(v, key);
    } else if (key == "lang") {
      d.lang = check.string(v, key);
    } else if (key == "arch") {
      d.arch = check.string(v, key);
    } else if (key == "requirements") {
      d.requirements = check.string(v, key);
    } else if (key == "launch") {
      d.launch = check.patterns(v, key);
      haveLaunch = true;
    } else if (key == "apply") {
      d.apply = check.patterns(v, key);
      haveApply = true;
    } else if (key == "modules") {
      if (!YAJL_IS_OBJECT(v)) check.fail("\"modules\" must be an object: module name -> files");
      for (size_t m = 0; m < v->u.object.len; ++m)
        d.modules.push_back(check.module(v->u.object.keys[m], v->u.object.values[m]));
      haveModules = true;
    } else if (key == "exclusive_modules") {
      if (!YAJL_IS_ARRAY(v)) check.fail("\"exclusive_modules\" must be an array of module names or lists of them");
      for (size_t g = 0; g < v->u.array.len; ++g)
        d.exclusive_modules.push_back(check.strings(v->u.array.values[g], key));
    } else if (key == "setup") {
      if (!YAJL_IS_ARRAY(v)) check.fail("\"setup\" must be an array of [name, flag] pairs");
      for (size_t s = 0; s < v->u.array.len; ++s) {
        yajl_val pair = v->u.array.values[s];
        if (!YAJL_IS_ARRAY(pair) || pair->u.array.len != 2 || !YAJL_IS_STRING(pair->u.array.values[0]) ||
            !(YAJL_IS_TRUE(pair->u.array.values[1]) || YAJL_IS_FALSE(pair->u.array.values[1])))
          check.fail("\"setup\" must be an array of [name, flag] pairs");
        d.setup.push_back({YAJL_GET_STRING(pair->u.array.values[0]), YAJL_IS_TRUE(pair->u.array.values[1])});
      }
    } else {
      check.fail("unknown key \"" + key + "\"");
    }
  }

  // The addresses may also come from the command line (publishRelease checks).
  for (const char* required : {"version", "tag", "main"})
    if (!seen.count(required)) check.fail(std::string("missing key \"") + required + "\"");
  if (!haveModules) check.fail("missing key \"modules\"");
  if (!haveLaunch) check.fail("missing key \"launch\"");
  if (!haveApply) check.fail("missing key \"apply\"");

  // Member names of the database are looked up without regard to case.
  for (size_t a = 0; a < d.modules.size(); ++a) {
    for (size_t b = a + 1; b < d.modules.size(); ++b)
      if (sameIgnoringCase(d.modules[a].name, d.modules[b].name))
        check.fail("modules \"" + d.modules[a].name + "\" and \"" + d.modules[b].name + "\" differ only in case");
    const auto& arch = d.modules[a].arch;
    for (size_t x = 0; x < arch.size(); ++x)
      for (size_t y = x + 1; y < arch.size(); ++y)
        if (sameIgnoringCase(arch[x].first, arch[y].first))
          check.fail("module \"" + d.modules[a].name + "\": arch \"" + arch[x].first + "\" and \"" + arch[y].first +
                     "\" differ only in case");
  }
  if (!d.findModule(d.main)) check.fail("\"main\" names the unknown module \"" + d.main + "\"");
  for (const auto& group : d.exclusive_modules) {
    if (group.empty()) check.fail("\"exclusive_modules\" holds an empty group");
    for (const std::string& name : group)
      if (!d.findModule(name)) check.fail("\"exclusive_modules\" names the unknown module \"" + name + "\"");
  }
  if (!d.lang.empty()) {
    for (char c : d.lang)
      if (c < 'a' || c > 'z') check.fail("\"lang\" must be lower-case letters a-z");
  }
  if (!d.arch.empty() && !isPlainWord(d.arch))
    check.fail("\"arch\" must be a word of letters, digits, \"_\", \"-\" or \".\"");
  return d;
}

ReleaseDescription loadReleaseDescription(const std::wstring& path) {
  std::string text;
  StringWriter out(text);
  try {
    readFileToWriter(path, out, neverCancelled);
  } catch (const std::runtime_error& e) {
    throw PublishError(std::string("cannot read the release description: ") + e.what());
  }
  return parseReleaseDescription(text, "release description \"" + toUtf8(path) + "\"");
}

}  // namespace nx::publish
