#pragma once
// The terminal in the dialog's mode: keys one by one without echo, Ctrl-C a
// key like any other, the cursor hidden. Everything goes back when the
// session ends, and on SIGTERM, SIGHUP, SIGINT or SIGQUIT, which then take
// their previous action. One session runs at a time, on the main thread.
namespace nx::ui::terminal {

class TerminalSession {
 public:
  TerminalSession(int in, int out) : in_(in), out_(out) { enter(); }
  ~TerminalSession() { leave(); }
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  void enter();
  void leave();

  // True when keys can be read.
  bool keys() const { return keys_; }

  // True once after a signal put the terminal back and the program
  // survived it: the session must be taken again.
  static bool leftBySignal();

  // Interrupts the program as Ctrl-C would have without the dialog. A
  // program that survives it (one that ignores or handles SIGINT) gets its
  // dialog back.
  void interruptAsTheTerminalWould();

 private:
  int in_;
  int out_;
  bool entered_ = false;
  bool keys_ = false;
};

}  // namespace nx::ui::terminal
