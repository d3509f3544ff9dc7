// The update check as a user meets it: the real `autoupdate update` program,
// from its start to the user's decision (answered "no"), against a loopback
// server whose reply lists 1,000 versions; against fetching and parsing the
// same reply with `curl -s URL | python3 -c 'json.load(...)'`.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_util.h"
#include "support/http_server.h"
#include "support/program_run.h"

namespace {

const std::string kBuild = NX_BENCH_BUILD_DIR;
const std::string kExamples = NX_BENCH_SOURCE_DIR "/examples";

// The published reply with 999 more versions around the installed one; the
// last is newer, so the user is asked.
void widenReply(const std::string& replyPath, const std::string& databaseId) {
  std::string body = "{\n \"download_url\": [\"http://mirror.invalid/objects\"],\n \"versions\": [\n";
  for (int i = 0; i < 1000; ++i) {
    char entry[512];
    const bool installed = i == 500;
    std::snprintf(
        entry, sizeof entry,
        "  {\"timestamp\": \"%s\", \"version\": \"%s\", \"database_id\": \"%s\", "
        "\"database_size\": %d, \"requirements\": \"%s\"}%s\n",
        installed ? "2026-12-01T10:00:00Z" : ((i < 500 ? "2025-" : "2027-") + std::to_string(10000 + i)).c_str(),
        installed ? "1.0" : ("1." + std::to_string(i)).c_str(), databaseId.c_str(), 4096 + i,
        i % 7 == 0 ? "linux:2.6" : "", i + 1 < 1000 ? "," : "");
    body += entry;
  }
  body += " ]\n}\n";
  std::ofstream(replyPath, std::ios::binary | std::ios::trunc) << body;
}

std::string databaseIdOf(const std::string& reply) {
  size_t at = reply.find("\"database_id\": \"");
  return at == std::string::npos ? std::string(64, '0') : reply.substr(at + 16, 64);
}

}  // namespace

int main() {
  nx::bench::ScratchFolder scratch;
  const std::string repo = scratch.file("repo"), install = scratch.file("install");
  std::filesystem::create_directories(repo);
  nx::test::HttpServer server;
  server.serveFolder("/repo", repo);
  const std::string base = server.url("/repo");

  auto run = [](const std::string& program, const std::vector<std::string>& args, const nx::test::Environment& env) {
    nx::test::ProgramResult r = nx::test::runProgram(program, args, env);
    if (r.status != 0) std::fprintf(stderr, "bench_update_check: %s failed: %s\n", program.c_str(), r.err.c_str());
    return r;
  };
  run(kBuild + "/publish",
      {"release", kExamples + "/release-v1.json", kExamples + "/product-v1", repo, "--base-url", base, "--add",
       "bin/applier=/bin/true", "--add", "bin/autoupdate=" + kBuild + "/autoupdate", "--add",
       "bin/autoupdate-gtk.so=/bin/true"},
      {});
  run(kBuild + "/publish", {"image", repo, "1.0", install}, {});
  std::ifstream in(repo + "/update/stable");
  std::string published{std::istreambuf_iterator<char>(in), {}};
  widenReply(repo + "/update/stable", databaseIdOf(published));

  const nx::test::Environment env{{"XDG_DATA_HOME", scratch.file("data")},
                                  {"XDG_CACHE_HOME", scratch.file("cache")},
                                  {"AUTOUPDATE_UI", "plain"},
                                  {"AUTOUPDATE_ANSWER", "no"}};
  bool asked = false;
  double ours = nx::bench::bestSeconds(10, [&] {
    nx::test::ProgramResult r = run(install + "/bin/autoupdate", {"update"}, env);
    asked = r.err.find("[question] VELTRA UPDATE: New version 1.999 is available. Update?") != std::string::npos;
  });
  if (!asked) {
    std::fprintf(stderr, "bench_update_check: the updater did not reach the question\n");
    return 1;
  }
  const std::string command = "curl -s " + nx::bench::quote(base + "/update/stable?mods=veltra") +
                              " | python3 -c 'import json,sys; json.load(sys.stdin)'";
  double reference = nx::bench::bestSeconds(10, [&] { nx::bench::shell(command); });
  std::printf(
      "| update check, 1,000 versions, process start to decision | %.3f s | %.3f s (curl piped to python3 "
      "json.load) | %.2f |\n",
      ours, reference, reference / ours);
  return 0;
}
