// Runs one progress dialog and then (optionally) a question through the user
// interface that AUTOUPDATE_UI and the terminal choose, and prints what came
// back on stdout, for tests that drive it as a person would.
//
//   ui_probe [--unknown] [--transfer] [--hold] [--no-cancel]
//
// The step's progress goes from 0 to 1 over 20 calls 50 ms apart, or stays
// unknown with --unknown; --hold keeps the dialog open until the user ends it. --transfer adds a transfer line under
// the status text.
//
// Prints "ui_probe pid <pid>" first, then "dialog: finished|accepted|cancelled".
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "base/text.h"
#include "ui/progress_dialog.h"

int main(int argc, char** argv) {
  const int steps = 20, period = 50;
  bool unknown = false, transfer = false, hold = false, noCancel = false;
  const std::map<std::string, bool*> flags{
      {"--unknown", &unknown}, {"--transfer", &transfer}, {"--hold", &hold}, {"--no-cancel", &noCancel}};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (flags.count(a)) {
      *flags.at(a) = true;
    } else {
      std::cerr << "ui_probe: unknown argument " << a << "\n";
      return 2;
    }
  }
  const std::string status = transfer ? "Downloading updates..." : "Checking for updates...";

  std::cout << "ui_probe pid " << ::getpid() << std::endl;
  int call = 0;
  nx::ui::ProgressStep step = [&](float& progress, std::wstring& text) {
    float fraction = std::min(1.0f, static_cast<float>(call) / static_cast<float>(steps));
    progress = unknown ? -1.0f : fraction;
    std::string line = status;
    if (transfer) {
      char detail[128];
      std::snprintf(detail, sizeof detail, "\n%.1f/%.1f MB @ %6.1f KB/s", fraction * 100.0, 100.0, 250.0);
      line += detail;
    }
    text = nx::fromUtf8(line);
    ++call;
    return hold || call <= steps;
  };
  nx::ui::DialogResult result = nx::ui::runProgressDialog(step, !noCancel, static_cast<uint32_t>(period));
  const char* word = result == nx::ui::DialogResult::Finished   ? "finished"
                     : result == nx::ui::DialogResult::Accepted ? "accepted"
                                                                : "cancelled";
  std::cout << "dialog: " << word << std::endl;
  return 0;
}
