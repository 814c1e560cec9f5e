#include "app/small_dialogs.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/control_ids.h"
#include "app/digits_line_edit.h"

namespace orvanta {
namespace {

template <class W>
W* Named(W* widget, const ctl::ControlName& control) {
  widget->setObjectName(QString::fromLatin1(control.name));
  if (control.id != 0) widget->setProperty("controlId", control.id);
  return widget;
}

// A small dialog: caption and close box only, no help button, fixed size.
void MakeSmallDialog(QDialog* dialog, const char* caption) {
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  dialog->setWindowTitle(QString::fromLatin1(caption));
  dialog->setModal(true);
  dialog->setSizeGripEnabled(false);
}

}  // namespace

VintraServerPropertiesDlg::VintraServerPropertiesDlg(QWidget* parent) : QDialog(parent) {
  Named(this, ctl::kServerPropertiesDlg);
  MakeSmallDialog(this, "Vintra Server Properties");

  auto* label =
      Named(new QLabel(QStringLiteral("Server Name or IP Address")), ctl::kServerNameLabel);
  mServerNameEdit = Named(new QLineEdit, ctl::kServerNameEdit);
  mServerNameEdit->setMinimumWidth(220);
  label->setBuddy(mServerNameEdit);
  auto* timeoutLabel = new QLabel(QStringLiteral("Reply Time-out in ms (0 waits for ever)"));
  timeoutLabel->setObjectName(QStringLiteral("replyTimeoutLabel"));
  mReplyTimeoutEdit = new DigitsLineEdit;
  mReplyTimeoutEdit->setObjectName(QStringLiteral("replyTimeoutEdit"));
  mReplyTimeoutEdit->setMaxLength(8);
  timeoutLabel->setBuddy(mReplyTimeoutEdit);

  auto* ok = Named(new QPushButton(QStringLiteral("OK")), ctl::kServerOkButton);
  auto* cancel = Named(new QPushButton(QStringLiteral("Cancel")), ctl::kServerCancelButton);
  ok->setDefault(true);
  ok->setAutoDefault(true);
  cancel->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* root = new QVBoxLayout(this);
  root->addWidget(label);
  root->addWidget(mServerNameEdit);
  root->addWidget(timeoutLabel);
  root->addWidget(mReplyTimeoutEdit);
  root->addLayout(buttons);
  root->setSizeConstraint(QLayout::SetFixedSize);
}

void VintraServerPropertiesDlg::setVisible(bool visible) {
  if (visible && !isVisible()) OnInitDialog();
  QDialog::setVisible(visible);
}

bool VintraServerPropertiesDlg::OnInitDialog() {
  mServerNameEdit->setText(QString::fromStdString(mServerName));
  mReplyTimeoutEdit->setText(QString::number(mReplyTimeoutMs));
  mServerNameEdit->selectAll();
  mServerNameEdit->setFocus(Qt::OtherFocusReason);
  return true;
}

void VintraServerPropertiesDlg::OnOK() {
  // Digits only; an empty field keeps the bound it showed. A number beyond
  // the range is refused, and the dialog stays open.
  const QString text = mReplyTimeoutEdit->text();
  bool ok = false;
  const long long ms = text.toLongLong(&ok);
  if (!text.isEmpty() && (!ok || ms < 0 || ms > kMaxReplyTimeoutMs)) {
    if (mBoxes != nullptr) {
      mBoxes->Show(kReplyTimeoutRangeMessage, "Vintra Server Properties", BoxIcon::kError,
                   BoxButtons::kOk);
    }
    mReplyTimeoutEdit->setText(QString::number(mReplyTimeoutMs));
    mReplyTimeoutEdit->selectAll();
    mReplyTimeoutEdit->setFocus(Qt::OtherFocusReason);
    return;
  }
  if (!text.isEmpty()) mReplyTimeoutMs = static_cast<int>(ms);
  mServerName = mServerNameEdit->text().toStdString();
  accept();
}

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent) : QDialog(parent) {
  Named(this, ctl::kAboutDlg);
  MakeSmallDialog(this, "About Orvanta");
  setWindowIcon(icon);

  auto* iconLabel = Named(new QLabel, ctl::kAboutIcon);
  iconLabel->setPixmap(icon.pixmap(32, 32));
  iconLabel->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  auto* version = Named(new QLabel(QString::fromLatin1(kVersionText)), ctl::kAboutVersionText);
  auto* second = Named(new QLabel(QString::fromLatin1(kSecondText)), ctl::kAboutSecondText);
  auto* ok = Named(new QPushButton(QStringLiteral("OK")), ctl::kAboutOkButton);
  ok->setDefault(true);
  ok->setAutoDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] { accept(); });

  auto* texts = new QVBoxLayout;
  texts->addWidget(version);
  texts->addWidget(second);
  texts->addStretch(1);
  auto* row = new QHBoxLayout(this);
  row->addWidget(iconLabel);
  row->addSpacing(12);
  row->addLayout(texts, 1);
  row->addWidget(ok, 0, Qt::AlignTop);
  row->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace orvanta
