// The two small modal dialogs of the main window: the server name
// (VintraServerPropertiesDlg) and the About box (CAboutDlg). Window thread
// only.
#pragma once

#include <QDialog>
#include <QIcon>

#include <string>

#include "platform/message_box.h"
#include "platform/version.h"

class QLineEdit;

namespace orvanta {

// "Vintra Server Properties": a field for the server's name or address, one
// for the reply bound in milliseconds, OK (default) and Cancel.
class VintraServerPropertiesDlg : public QDialog {
  Q_OBJECT

 public:
  explicit VintraServerPropertiesDlg(QWidget* parent = nullptr);

  // The name shown when the dialog opens, and after OK the field's text,
  // whatever it is (also empty). Empty at construction; Cancel leaves it.
  void SetServerName(const std::string& name) { mServerName = name; }
  const std::string& GetServerName() const { return mServerName; }
  // The reply bound shown when the dialog opens, and after OK the field's
  // value (0 waits for ever; an empty field keeps it).
  void SetReplyTimeoutMs(int ms) { mReplyTimeoutMs = ms; }
  int GetReplyTimeoutMs() const { return mReplyTimeoutMs; }

  // The longest reply bound the field takes: 24 hours.
  static constexpr long long kMaxReplyTimeoutMs = 86400000;
  static constexpr const char kReplyTimeoutRangeMessage[] =
      "Unable to set the reply time-out, it must lie between 0 and 86400000 ms (24 hours; 0 waits "
      "for ever).  The previous value was not changed.";
  // Where a refused value is told; without boxes it is only put back.
  void SetMessageBoxes(MessageBoxes* boxes) { mBoxes = boxes; }

  // Shows the member in the field; runs by itself when the dialog opens.
  bool OnInitDialog();
  // OK: takes the field's text into the member and closes with Accepted.
  void OnOK();

  void setVisible(bool visible) override;

 private:
  std::string mServerName;
  int mReplyTimeoutMs = 5000;
  MessageBoxes* mBoxes = nullptr;
  QLineEdit* mServerNameEdit = nullptr;
  QLineEdit* mReplyTimeoutEdit = nullptr;
};

// "About Orvanta": the application icon, the version line and a second,
// shorter line, and OK (default).
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char kVersionText[] = "Orvanta Version " ORVANTA_VERSION;
  static constexpr const char kSecondText[] = "Trial sequencing";

  explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);
};

}  // namespace orvanta
