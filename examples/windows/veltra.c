/* The sample product's Windows launcher: prints "VELTRA <version>" and the
   greeting of the installed language (Config\lang.cfg beside it). When
   VELTRA_STARTED names a file, the first line is appended there too, so a
   script can see which version the updater started (the updater starts it
   in a console of its own). Built with -DVELTRA_VERSION="\"2.0\"". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(void) {
  wchar_t folder[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, folder, MAX_PATH);
  while (n > 0 && folder[n - 1] != L'\\') --n;
  folder[n] = 0;
  printf("VELTRA %s\n", VELTRA_VERSION);
  const char* started = getenv("VELTRA_STARTED");
  if (started && *started) {
    FILE* f = fopen(started, "a");
    if (f) {
      fprintf(f, "VELTRA %s\n", VELTRA_VERSION);
      fclose(f);
    }
  }
  wchar_t path[MAX_PATH + 64];
  char lang[16] = {0};
  swprintf(path, MAX_PATH + 64, L"%lsConfig\\lang.cfg", folder);
  FILE* cfg = _wfopen(path, L"r");
  if (!cfg) return 0;
  if (fgets(lang, sizeof lang, cfg)) lang[strcspn(lang, "\r\n")] = 0;
  fclose(cfg);
  swprintf(path, MAX_PATH + 64, L"%lslang\\%hs\\greeting.txt", folder, lang);
  FILE* greeting = lang[0] ? _wfopen(path, L"r") : NULL;
  if (!greeting) return 0;
  char line[256];
  while (fgets(line, sizeof line, greeting)) fputs(line, stdout);
  fclose(greeting);
  return 0;
}
