#pragma once
// The narrow C interface between the updater and its GTK window module,
// autoupdate-gtk.so beside the program. The updater opens the module at run
// time, so neither it nor the applier links GTK; a machine without GTK still
// runs the updater, with another user interface. Texts are UTF-8.
#ifdef __cplusplus
extern "C" {
#endif

// Raised whenever a function below changes its meaning.
#define NX_GTK_MODULE_VERSION 2
#define NX_GTK_MODULE_ENTRY "nxGtkModule"

// How a progress window ended: the dialog's results, and one for a step that failed.
enum { NX_GTK_FINISHED = 0, NX_GTK_ACCEPTED = 1, NX_GTK_CANCELLED = 2, NX_GTK_STEP_FAILED = 3 };
// Icons and button sets of a message box; the answer is the pressed button's id.
enum { NX_GTK_ERROR = 0, NX_GTK_WARNING = 1, NX_GTK_INFORMATION = 2, NX_GTK_QUESTION = 3 };
enum { NX_GTK_OK = 0, NX_GTK_YES_NO = 1, NX_GTK_YES_NO_DEFAULT_NO = 2 };
enum { NX_GTK_ANSWER_OK = 1, NX_GTK_ANSWER_YES = 6, NX_GTK_ANSWER_NO = 7 };

// Called once before the window shows and then once per period. Sets
// *progress (below 0: unknown amount) and *text (NULL or empty: keep the
// text shown; the text stays valid until the next call). Returns 1 to go on,
// 0 when the work is over, -1 when it failed (the window closes at once).
typedef int (*NxGtkStep)(void* context, float* progress, const char** text);

typedef struct NxGtkModule {
  int version;
  // Connects to the display. NULL when it worked, else why it did not.
  const char* (*open)(void);
  // A progress window until the step ends or, when cancel is allowed, the user does.
  int (*runProgress)(NxGtkStep step, void* context, int cancelAllowed, unsigned periodMs);
  // A modal message box; returns the pressed button's id.
  int (*messageBox)(const char* text, const char* caption, int icon, int buttons);
} NxGtkModule;

typedef const NxGtkModule* (*NxGtkModuleEntry)(void);

#ifdef __cplusplus
}
#endif
