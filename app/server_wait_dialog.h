// The dialog shown while the window waits for the server (connect, the
// connection check, disconnect): what it waits for, the time elapsed, and a
// Cancel button. Qt-based; window thread only.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;
class QTimer;

namespace orvanta {

class ServerWaitDialog : public QDialog {
  Q_OBJECT

 public:
  // `text` is the first line ("Connecting to <server>…"); `cancel` is called
  // (on the window thread) when the user presses Cancel or closes the
  // dialog. Not shown until Start.
  ServerWaitDialog(const QString& text, std::function<void()> cancel, QWidget* parent = nullptr);

  // Shows the dialog and starts counting the elapsed time. Until it is
  // hidden or destroyed, the user's input to every other window of the
  // program is dropped, as a modal dialog would do it; but the dialog is not
  // modal, so that the window system's close request for the main window
  // (the window manager's close button) still reaches it and can cancel the
  // wait. Qt drops close requests to windows a modal dialog blocks.
  void Start();
  // Whether Cancel has been pressed.
  bool cancelled() const { return mCancelled; }

 protected:
  void reject() override;  // Escape and the close button: as Cancel
  void hideEvent(QHideEvent* event) override;

 private:
  class InputGate;

  void OnCancel();
  void UpdateElapsed();

  std::function<void()> mCancel;
  bool mCancelled = false;
  QLabel* mElapsedText = nullptr;
  QPushButton* mCancelButton = nullptr;
  QTimer* mTicker = nullptr;
  QElapsedTimer mElapsed;
  InputGate* mGate = nullptr;  // installed on the application while shown
};

// Runs `call` on a helper thread and returns its result once it has
// returned. Meanwhile the window thread's event loop goes on (repaints,
// queued calls, the dialog's Cancel); after `showAfterMs` a ServerWaitDialog
// with `text` appears. Cancel, and `cancelNow` set by the caller, call
// `cancel`, which must make `call` return promptly. `call` must not touch
// widgets. Off the window thread, `call` simply runs on the caller's thread.
bool RunWithServerWaitDialog(QWidget* parent, const QString& text, int showAfterMs,
                             const std::function<bool()>& call,
                             const std::function<void()>& cancel);

}  // namespace orvanta
