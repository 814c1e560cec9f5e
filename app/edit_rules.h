// The rules every editable field of the main window follows, shared by the
// window's parts. A field commits when it loses the focus (a context menu or
// a drop-down list opening over it is no loss) and on Enter, which keeps the
// focus; nothing commits while a Hold exists (the program itself changing
// the fields) or while the field is disabled. A refused value shows the
// editor's error box ("Trial Type Properties Error") once the focus change or
// key that caused the commit is over, then the field gets the focus back.
// The text of the last box is the window's last message.
//
// Owner: OrvantaDlg (a member, so it goes before the window's controls).
// Thread: the window thread.
#pragma once

#include <QObject>

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "platform/message_box.h"

class QComboBox;
class QLineEdit;

namespace orvanta {

class EditRules : public QObject {
  Q_OBJECT

 public:
  explicit EditRules(MessageBoxes& boxes);

  // While one exists, no field commits.
  class Hold {
   public:
    explicit Hold(EditRules& rules) : rules_(rules) { ++rules_.holds_; }
    ~Hold() { --rules_.holds_; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    EditRules& rules_;
  };
  bool held() const { return holds_ > 0; }
  // No field commits any more (the window is going).
  void HoldForGood() { holds_ = 1 << 20; }

  // `commit` runs when `edit` commits; with `holdDuring` under a Hold, so
  // that the focus changes it causes commit nothing.
  void Watch(QLineEdit* edit, std::function<void()> commit, bool holdDuring = true);
  // An editable combo box: its line edit commits when the box loses the
  // focus (it takes the focus for its line edit), on Enter and when the
  // user picks an entry of its list.
  void Watch(QComboBox* combo, std::function<void()> commit);
  // Enter in `edit`: commits it as a focus loss would. Fields not watched
  // are left alone.
  void Commit(QLineEdit* edit);

  // The error box now.
  void ShowError(const std::string& text);
  // The error box of a commit, once the commit is over; then `field` (when
  // still there and enabled) gets the focus back.
  void ShowErrorAfterCommit(const std::string& text, QLineEdit* field);
  // A value typed beyond a digits field's range: the error box after the
  // commit, `previous` back in the field. True when `text` was refused.
  bool RefuseOverRange(QLineEdit* edit, const std::string& text, const std::string& previous);

  MessageBoxes& boxes() const { return boxes_; }
  const std::string& lastMessage() const { return lastMessage_; }
  void SetLastMessage(std::string text) { lastMessage_ = std::move(text); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Field {
    std::function<void()> commit;
    bool holdDuring;
  };

  MessageBoxes& boxes_;
  std::map<QLineEdit*, Field> fields_;
  int holds_ = 0;
  std::string lastMessage_;
};

}  // namespace orvanta
