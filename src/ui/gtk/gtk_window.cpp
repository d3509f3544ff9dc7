// The updater's windows on a Linux desktop, built as the module
// autoupdate-gtk.so: the progress window (status text, a bar that pulses
// while the amount is unknown and fills otherwise, the transfer line, Cancel)
// and the message boxes. Everything runs on the calling thread, in the GTK
// main loop of that call.
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "ui/gtk_module.h"

namespace {

// About the width of the dialog it stands for, in pixels.
constexpr int kWindowWidth = 400;
constexpr int kBorder = 18;

struct ProgressRun {
  NxGtkStep step = nullptr;
  void* context = nullptr;
  bool cancelAllowed = false;
  int result = NX_GTK_FINISHED;
  GMainLoop* loop = nullptr;
  GtkWidget* window = nullptr;
  GtkWidget* status = nullptr;
  GtkWidget* bar = nullptr;
  GtkWidget* transfer = nullptr;
  guint timer = 0;
  std::string shown;  // the text on screen, so an unchanged one is not set again
};

void finish(ProgressRun& run, int result) {
  if (!g_main_loop_is_running(run.loop)) return;
  run.result = result;
  g_main_loop_quit(run.loop);
}

// The first line is the status (also the window's title, which a taskbar
// shows); what follows it is the transfer line under the bar.
void showText(ProgressRun& run, const char* text) {
  if (!text || !*text || run.shown == text) return;
  run.shown = text;
  const std::string& all = run.shown;
  const size_t end = all.find('\n');
  const std::string status = all.substr(0, end);
  const std::string transfer = end == std::string::npos ? std::string() : all.substr(end + 1);
  gtk_label_set_text(GTK_LABEL(run.status), status.c_str());
  gtk_window_set_title(GTK_WINDOW(run.window), status.c_str());
  gtk_label_set_text(GTK_LABEL(run.transfer), transfer.c_str());
  gtk_widget_set_visible(run.transfer, !transfer.empty());
}

void showProgress(ProgressRun& run, float progress) {
  GtkProgressBar* bar = GTK_PROGRESS_BAR(run.bar);
  if (progress < 0 || std::isnan(progress)) {
    gtk_progress_bar_set_show_text(bar, FALSE);
    gtk_progress_bar_pulse(bar);
    return;
  }
  // Whole tenths of a percent, as the dialog's 0 to 1000 range has them.
  const double fraction = std::trunc(std::fmin(progress, 1.0f) * 1000.0) / 1000.0;
  char percent[16];
  std::snprintf(percent, sizeof percent, "%d%%", static_cast<int>(fraction * 100.0));
  gtk_progress_bar_set_text(bar, percent);
  gtk_progress_bar_set_show_text(bar, TRUE);
  gtk_progress_bar_set_fraction(bar, fraction);
}

// One call of the step; false when the window is to close.
bool callStep(ProgressRun& run) {
  float progress = -1;
  const char* text = nullptr;
  const int goOn = run.step(run.context, &progress, &text);
  if (goOn < 0) {
    finish(run, NX_GTK_STEP_FAILED);
    return false;
  }
  if (goOn == 0) {
    finish(run, NX_GTK_FINISHED);
    return false;
  }
  showText(run, text);
  showProgress(run, progress);
  return true;
}

gboolean onTimer(gpointer data) {
  auto& run = *static_cast<ProgressRun*>(data);
  if (callStep(run)) return G_SOURCE_CONTINUE;
  run.timer = 0;
  return G_SOURCE_REMOVE;
}

void onCancel(GtkButton*, gpointer data) {
  auto& run = *static_cast<ProgressRun*>(data);
  if (run.cancelAllowed) finish(run, NX_GTK_CANCELLED);
}

// Closing the window is Cancel; a window that cannot be cancelled stays.
gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data) {
  onCancel(nullptr, data);
  return TRUE;
}

gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto& run = *static_cast<ProgressRun*>(data);
  switch (event->keyval) {
    case GDK_KEY_Escape:
      if (run.cancelAllowed) finish(run, NX_GTK_CANCELLED);
      return TRUE;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
      if (run.cancelAllowed) finish(run, NX_GTK_ACCEPTED);
      return TRUE;
    default:
      return FALSE;
  }
}

// Lets the display catch up, so a closed window is gone before what follows.
void drain() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void buildProgressWindow(ProgressRun& run) {
  run.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(run.window);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_keep_above(window, TRUE);
  gtk_window_set_default_size(window, kWindowWidth, -1);
  gtk_window_set_deletable(window, run.cancelAllowed);
  gtk_container_set_border_width(GTK_CONTAINER(window), kBorder);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
  gtk_container_add(GTK_CONTAINER(window), box);
  run.status = gtk_label_new("");
  GtkLabel* status = GTK_LABEL(run.status);
  gtk_label_set_justify(status, GTK_JUSTIFY_CENTER);
  gtk_label_set_line_wrap(status, TRUE);
  gtk_label_set_lines(status, 2);
  gtk_label_set_ellipsize(status, PANGO_ELLIPSIZE_END);
  gtk_label_set_max_width_chars(status, 48);
  gtk_box_pack_start(GTK_BOX(box), run.status, FALSE, FALSE, 0);
  run.bar = gtk_progress_bar_new();
  gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(run.bar), 0.05);
  gtk_box_pack_start(GTK_BOX(box), run.bar, FALSE, FALSE, 0);
  run.transfer = gtk_label_new("");
  gtk_box_pack_start(GTK_BOX(box), run.transfer, FALSE, FALSE, 0);
  GtkWidget* cancel = gtk_button_new_with_label("Cancel");
  gtk_widget_set_halign(cancel, GTK_ALIGN_CENTER);
  gtk_widget_set_size_request(cancel, 90, -1);
  gtk_box_pack_start(GTK_BOX(box), cancel, FALSE, FALSE, 4);

  g_signal_connect(cancel, "clicked", G_CALLBACK(onCancel), &run);
  g_signal_connect(run.window, "delete-event", G_CALLBACK(onDelete), &run);
  g_signal_connect(run.window, "key-press-event", G_CALLBACK(onKey), &run);
  gtk_widget_show_all(run.window);
  gtk_widget_set_visible(cancel, run.cancelAllowed);
  gtk_widget_set_visible(run.transfer, FALSE);
}

const char* openDisplay() {
  static std::string why;
  if (gtk_init_check(nullptr, nullptr)) return nullptr;
  const char* display = g_getenv("WAYLAND_DISPLAY");
  if (!display || !*display) display = g_getenv("DISPLAY");
  why = std::string("cannot open display ") + (display && *display ? display : "(none set)");
  return why.c_str();
}

int runProgress(NxGtkStep step, void* context, int cancelAllowed, unsigned periodMs) {
  ProgressRun run;
  run.step = step;
  run.context = context;
  run.cancelAllowed = cancelAllowed != 0;
  run.loop = g_main_loop_new(nullptr, FALSE);
  // A step that is over at once closes the window before it is drawn.
  float progress = -1;
  const char* text = nullptr;
  const int goOn = step(context, &progress, &text);
  if (goOn <= 0) {
    g_main_loop_unref(run.loop);
    return goOn < 0 ? NX_GTK_STEP_FAILED : NX_GTK_FINISHED;
  }
  buildProgressWindow(run);
  showText(run, text);
  showProgress(run, progress);
  gtk_window_present(GTK_WINDOW(run.window));
  run.timer = g_timeout_add(periodMs ? periodMs : 1, onTimer, &run);
  g_main_loop_run(run.loop);
  if (run.timer) g_source_remove(run.timer);
  gtk_widget_destroy(run.window);
  g_main_loop_unref(run.loop);
  drain();
  return run.result;
}

const char* iconName(int icon) {
  switch (icon) {
    case NX_GTK_WARNING:
      return "dialog-warning";
    case NX_GTK_INFORMATION:
      return "dialog-information";
    case NX_GTK_QUESTION:
      return "dialog-question";
    default:
      return "dialog-error";
  }
}

int messageBox(const char* text, const char* caption, int icon, int buttons) {
  GtkWidget* dialog = gtk_dialog_new();
  GtkWindow* window = GTK_WINDOW(dialog);
  gtk_window_set_title(window, caption);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_keep_above(window, TRUE);
  gtk_container_set_border_width(GTK_CONTAINER(dialog), 8);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 14);
  gtk_container_set_border_width(GTK_CONTAINER(row), 8);
  GtkWidget* image = gtk_image_new_from_icon_name(iconName(icon), GTK_ICON_SIZE_DIALOG);
  gtk_widget_set_valign(image, GTK_ALIGN_START);
  gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
  GtkWidget* label = gtk_label_new(text);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), row, TRUE, TRUE, 0);

  // Return answers with the default button: Yes, or No before a step that
  // cannot be undone.
  GtkWidget* first;
  const bool question = buttons == NX_GTK_YES_NO || buttons == NX_GTK_YES_NO_DEFAULT_NO;
  if (question) {
    GtkWidget* yes = gtk_dialog_add_button(GTK_DIALOG(dialog), "_Yes", GTK_RESPONSE_YES);
    GtkWidget* no = gtk_dialog_add_button(GTK_DIALOG(dialog), "_No", GTK_RESPONSE_NO);
    first = buttons == NX_GTK_YES_NO ? yes : no;
  } else {
    first = gtk_dialog_add_button(GTK_DIALOG(dialog), "_OK", GTK_RESPONSE_OK);
  }
  gtk_widget_set_can_default(first, TRUE);
  gtk_widget_grab_default(first);
  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(first);
  gtk_window_present(window);
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  drain();
  if (!question) return NX_GTK_ANSWER_OK;
  // Escape or closing the window answers No, as Ctrl-C does at a terminal.
  return response == GTK_RESPONSE_YES ? NX_GTK_ANSWER_YES : NX_GTK_ANSWER_NO;
}

const NxGtkModule kModule = {NX_GTK_MODULE_VERSION, openDisplay, runProgress, messageBox};

}  // namespace

extern "C" __attribute__((visibility("default"))) const NxGtkModule* nxGtkModule(void) { return &kModule; }
