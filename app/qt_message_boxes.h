// Message boxes of the window program, shown with QMessageBox on the
// application's (window) thread.
#pragma once

#include <memory>
#include <string>

#include "platform/message_box.h"

class QWidget;

namespace orvanta {

// Thread-safe. A call on the window thread shows the box at once (a nested
// event loop runs while it is open). A call from another thread hands the box
// over to the window thread by a queued call and waits until it has been
// answered, or until Close().
//
// Callers must not wait for a box while they hold a lock that the window
// thread may need (the log's entry lock, for example).
//
// Created before the main window and destroyed after it, while the
// QApplication exists.
class QtMessageBoxes : public MessageBoxes {
 public:
  QtMessageBoxes();
  QtMessageBoxes(const QtMessageBoxes&) = delete;
  QtMessageBoxes& operator=(const QtMessageBoxes&) = delete;
  ~QtMessageBoxes() override;  // calls Close()

  using MessageBoxes::Show;
  BoxResult Show(const std::string& text, const std::string& caption, BoxIcon icon,
                 BoxButtons buttons) override;

  // The window that owns the boxes; null for none. Window thread only. The
  // owner is held weakly: a destroyed window leaves the boxes without owner.
  void SetOwner(QWidget* owner);

  // Ends the hand-over for good: callers on other threads that still wait
  // are released, and later calls from other threads return at once. Both
  // are answered with OK, or with Cancel / No for a question, so that nobody
  // goes ahead on an unanswered question. Boxes not yet shown are dropped.
  // Called when the window program shuts down, before the threads that may
  // still ask for boxes are stopped.
  void Close();

  // The answer given when a box cannot be shown.
  static BoxResult UnansweredResult(BoxButtons buttons);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace orvanta
