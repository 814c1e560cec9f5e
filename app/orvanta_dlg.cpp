#include "app/orvanta_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

#include "app/digits.h"
#include "app/digits_line_edit.h"
#include "app/log_pane.h"
#include "app/run_panel.h"
#include "app/run_status_bar.h"
#include "app/trial_type_editor.h"
#include "app/window_menu.h"
#include "client/socket_layer.h"
#include "core/program_core.h"
#include "log/log_file.h"
#include "trials/trial_container.h"

namespace orvanta {
namespace {

constexpr const char kLogFileName[] = "OrvantaLogFile.txt";

// The application icon: a train of trial pulses on blue with a red dot. It
// is the picture of the installed icon (packaging/icons/orvanta.svg, in the
// same 256-unit coordinates), drawn at start-up so that the program needs no
// resource files.
QIcon MakeApplicationIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 256.0, size / 256.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x4e, 0x8c));
    painter.drawRoundedRect(QRectF(16, 16, 224, 224), 40, 40);
    QPen trace(Qt::white, 16);
    trace.setJoinStyle(Qt::RoundJoin);
    trace.setCapStyle(Qt::RoundCap);
    painter.setPen(trace);
    painter.setBrush(Qt::NoBrush);
    const QPointF pulses[] = {{40, 184},  {72, 184},  {72, 104},  {112, 104}, {112, 184},
                              {144, 184}, {144, 104}, {184, 104}, {184, 184}, {216, 184}};
    painter.drawPolyline(pulses, static_cast<int>(std::size(pulses)));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xd0, 0x3a, 0x2f));
    painter.drawEllipse(QPointF(200, 64), 20, 20);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

// The keyboard rule needs every key press aimed at the window before the
// control sees it, so it watches the whole application and passes on only
// the keys of this window. Other windows (message boxes, file dialogs, the
// drop-down list of the combo) keep their own keyboard handling.
class OrvantaDlg::KeyboardFilter : public QObject {
 public:
  explicit KeyboardFilter(OrvantaDlg* dialog) : dialog_(dialog) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget != dialog_ && widget->window() != dialog_) return false;
    return dialog_->PreTranslateMessage(widget, static_cast<QKeyEvent*>(event));
  }

 private:
  OrvantaDlg* dialog_;
};

OrvantaDlg::OrvantaDlg(ProgramCore& core, FileChooser& files, ServerLink& server, QWidget* parent)
    : QDialog(parent),
      mCore(core),
      mFiles(files),
      mServer(server),
      mIcon(MakeApplicationIcon()),
      mEditRules(core.seams().boxes) {
  setObjectName(QStringLiteral("orvantaDlg"));
  // Caption, system menu, minimise and maximise; resizable down to a size
  // that fits a 1280 x 720 screen.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("Orvanta"));
  setSizeGripEnabled(false);
  BuildParts();

  mKeyboardFilter = new KeyboardFilter(this);
  qApp->installEventFilter(mKeyboardFilter);
}

OrvantaDlg::~OrvantaDlg() {
  mEditRules.HoldForGood();  // the fields are going away; nothing more is committed
  bool registered = false;
  mCore.seams().mainWindow.Call(
      [&](WindowListener& window) { registered = &window == static_cast<WindowListener*>(this); });
  if (registered) mCore.seams().mainWindow.Unregister();
  // A run must not outlive the window that shows it.
  mCore.trials().StopProcessingTrials();
  if (mKeyboardFilter != nullptr) {
    qApp->removeEventFilter(mKeyboardFilter);
    delete mKeyboardFilter;
    mKeyboardFilter = nullptr;
  }
}

// ---------------------------------------------------------------------------
// The parts

void OrvantaDlg::BuildParts() {
  // Left the run, right the trial type editor, the log across the foot. The
  // order the parts are placed in is the tab order.
  mRunPanel = new RunPanel(mCore.trials(), mCore.deck(), mCore.log(), mEditRules);
  mEditor = new TrialTypeEditor(mCore.trials(), mCore.deck(), mCore.log(), mFiles, mEditRules);
  mLogPane = new LogPane(kMaxLogEntries);
  auto* columns = new QHBoxLayout;
  columns->addWidget(mRunPanel);
  columns->addWidget(mEditor, 1);
  auto* root = new QVBoxLayout(this);
  // The lists and the message log take the room a larger window gives.
  root->addLayout(columns, 3);
  root->addWidget(mLogPane, 1);
  FinishLayout();

  connect(mEditor, &TrialTypeEditor::orderMayHaveChanged, mRunPanel, &RunPanel::UpdateTrialList);
  connect(mEditor, &TrialTypeEditor::trialCountChanged, mRunPanel, &RunPanel::NoteRunLimitBreaks);
  connect(mEditor, &TrialTypeEditor::serverObjectsWanted, this, &OrvantaDlg::ListServerObjects);
  connect(mRunPanel, &RunPanel::startClicked, this, &OrvantaDlg::OnStart);
  connect(mRunPanel, &RunPanel::pauseClicked, this, &OrvantaDlg::OnPause);
  connect(mRunPanel, &RunPanel::stopClicked, this, &OrvantaDlg::OnStop);
  connect(mRunPanel, &RunPanel::shuffleTypeChosen, this, &OrvantaDlg::OnShuffleTypeChanged);
}

void OrvantaDlg::FinishLayout() {
  // Tight margins and rows, so that the whole window fits a 1280 x 720
  // screen; a larger window gives its extra room to the lists and the log.
  layout()->setContentsMargins(8, 4, 8, 0);
  layout()->setSpacing(4);
  for (QGroupBox* group : findChildren<QGroupBox*>()) {
    if (group->layout() == nullptr) continue;
    group->layout()->setContentsMargins(8, 2, 8, 4);
    group->layout()->setSpacing(3);
  }
  for (QGridLayout* grid : findChildren<QGridLayout*>()) grid->setVerticalSpacing(2);
  for (QLineEdit* edit : findChildren<QLineEdit*>())
    edit->setMinimumWidth(std::max(edit->minimumWidth(), 60));

  layout()->addWidget(mRunPanel->statusBar());
  // The title is where the window shows the connection; the status bar
  // follows it, whichever command changed it.
  connect(this, &QWidget::windowTitleChanged, this,
          [this](const QString& title) { ShowConnectionState(title); });

  // A refused keystroke or paste in a digits field says why, at the field
  // and in the status bar.
  for (DigitsLineEdit* edit : findChildren<DigitsLineEdit*>()) {
    connect(edit, &DigitsLineEdit::inputRefused, this, [this, edit](const QString& reason) {
      QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), reason, edit);
      mRunPanel->statusBar()->ShowNote(reason);
    });
  }
}

bool OrvantaDlg::CreateMenuBar() {
  mMenu = new WindowMenu(mCore.trials(), mCore.log(), this);
  // Every command stays available at all times, also during a run.
  connect(mMenu, &WindowMenu::openConfigurationFile, this, &OrvantaDlg::OnOpenConfigurationFile);
  connect(mMenu, &WindowMenu::saveConfigurationFile, this, &OrvantaDlg::OnSaveConfigurationFile);
  connect(mMenu, &WindowMenu::viewLogFile, this, &OrvantaDlg::OnViewLogFile);
  connect(mMenu, &WindowMenu::resumeSession, this, &OrvantaDlg::OnResumeSession);
  connect(mMenu, &WindowMenu::chooseRecordsFolder, this, &OrvantaDlg::OnChooseRecordsFolder);
  connect(mMenu, &WindowMenu::viewLastSessionReport, this, &OrvantaDlg::OnViewLastSessionReport);
  connect(mMenu, &WindowMenu::connectToServer, this, &OrvantaDlg::OnConnectToServer);
  connect(mMenu, &WindowMenu::disconnectFromServer, this, &OrvantaDlg::OnDisconnectFromServer);
  connect(mMenu, &WindowMenu::setServerName, this, &OrvantaDlg::OnSetServerName);
  connect(mMenu, &WindowMenu::about, this, &OrvantaDlg::OnAbout);
  connect(mMenu, &WindowMenu::newSetup, this, &OrvantaDlg::OnNewSetup);
  connect(mMenu, &WindowMenu::exit, this, &OrvantaDlg::OnExit);
  connect(mMenu, &WindowMenu::startAtTrial, this, &OrvantaDlg::OnStartAtTrial);
  if (!mMenu->Create()) return false;
  layout()->setMenuBar(mMenu->bar());
  return layout()->menuBar() == mMenu->bar();
}

void OrvantaDlg::UpdateTrialProperties(const std::string& name) { mEditor->ShowType(name); }

void OrvantaDlg::ChangeTrialTypeName(const std::string& currentName, const std::string& newName) {
  mEditor->RenameInList(currentName, newName);
}

void OrvantaDlg::UpdateTrialList() { mRunPanel->UpdateTrialList(); }

void OrvantaDlg::UpdateShuffleControls() { mRunPanel->UpdateShuffleControls(); }

const std::string& OrvantaDlg::currentTrialName() const { return mEditor->currentName(); }

int32_t OrvantaDlg::nextTrialTypeNumber() const { return mEditor->nextTypeNumber(); }

RunStatusBar* OrvantaDlg::runStatusBar() const { return mRunPanel->statusBar(); }

void OrvantaDlg::ShowError(const std::string& text) { mEditRules.ShowError(text); }

void OrvantaDlg::FitToScreen() {
  const QScreen* where = screen();
  if (where == nullptr) return;
  // Room for the window manager's frame and title bar.
  const QRect room = where->availableGeometry().adjusted(0, 0, -16, -48);
  const QSize wanted = sizeHint().expandedTo(minimumSizeHint());
  resize(std::min(wanted.width(), std::max(room.width(), minimumSizeHint().width())),
         std::min(wanted.height(), std::max(room.height(), minimumSizeHint().height())));
}

// ---------------------------------------------------------------------------
// Start-up, keyboard and close

void OrvantaDlg::setVisible(bool visible) {
  if (visible && !mInitialised) {
    OnInitDialog();
    FitToScreen();
  }
  QDialog::setVisible(visible);
}

bool OrvantaDlg::OnInitDialog() {
  if (mInitialised) return true;
  mInitialised = true;
  EditRules::Hold hold(mEditRules);

  // The "&About Orvanta..." system-menu item: Qt offers no portable access to
  // the window's system menu, so the About box is reached through the Help
  // menu's "About Orvanta..." instead.

  setWindowIcon(mIcon);
  mCore.log().SetLogFilename(mCore.applicationDirectory() + kLogFileName);
  // The client's own log, so that the failed-connect box's pointer to it
  // holds.
  const std::string clientLog = mCore.applicationDirectory() + kClientLogFileName;
  if (!mServer.OpenClientLog(clientLog)) {
    mCore.log().WriteLogEntry(kLogWarning,
                              "OrvantaDlg::OnInitDialog() - Warning, unable to "
                              "open the Vintra logfile: " +
                                  clientLog);
  }

  if (!CreateMenuBar()) {
    mCore.log().WriteLogEntry(kLogError,
                              "OrvantaDlg::OnInitDialog() - Error, menu creation failed.");
    return true;
  }

  mEditor->Init();
  mRunPanel->Init();

  const std::string host = net::HostName();  // at most 127 characters
  if (!host.empty()) mServerName = host;     // otherwise "localhost" stays

  setWindowTitle(QString::fromLatin1(kDisconnectedTitle));
  MarkSetupSaved();  // nothing to lose yet
  return true;
}

bool OrvantaDlg::PreTranslateMessage(QWidget* target, QKeyEvent* event) {
  // The menu bar, once entered from the keyboard, keeps its own keys.
  if (qobject_cast<QMenuBar*>(target) != nullptr) return false;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Commit the focused field as if it had lost the focus, and keep the
      // focus where it is.
      if (auto* edit = qobject_cast<QLineEdit*>(target)) mEditRules.Commit(edit);
      // An editable combo box holds the focus for its line edit.
      if (auto* combo = qobject_cast<QComboBox*>(target); combo && combo->lineEdit()) {
        mEditRules.Commit(combo->lineEdit());
      }
      return true;
    case Qt::Key_Escape:
      return true;
    default:
      return false;  // Tab moves on; every other key goes to the control
  }
}

void OrvantaDlg::closeEvent(QCloseEvent* event) {
  if (mBusy > 0) {
    // The window is waiting for the server or the opener; a wait for the
    // server is cancelled, and the window closes when the wait is over.
    mCloseDeferred = true;
    if (mServerWaits > 0) {
      mClosing = true;
      mServer.Cancel();
    }
    event->ignore();
    return;
  }
  if (!ConfirmClose()) {
    event->ignore();
    return;
  }
  OnClose();
  QDialog::closeEvent(event);
}

bool OrvantaDlg::ConfirmClose() {
  if (RunInProgress()) {
    const std::string question =
        "Trials are being processed.  Closing the window stops the run.\r\n\r\nStop the run "
        "and close the window?";
    if (mCore.seams().boxes.Show(question, "Exit", BoxIcon::kQuestion, BoxButtons::kYesNo) !=
        BoxResult::kYes) {
      return false;
    }
  }
  if (HasUnsavedChanges()) {
    const int32_t numTypes = mCore.trials().GetNumTrials();
    const std::string question =
        "The current setup has changes that have not been saved.  Its " + FormatNumber(numTypes) +
        (numTypes == 1 ? " trial type" : " trial types") +
        " and the trial order will be lost.\r\n\r\nClose the window without saving?";
    if (mCore.seams().boxes.Show(question, "Exit", BoxIcon::kQuestion, BoxButtons::kYesNo) !=
        BoxResult::kYes) {
      return false;
    }
  }
  return true;
}

void OrvantaDlg::OnClose() {
  // A run in progress ends before the window (and then the program) goes.
  mCore.trials().StopProcessingTrials();
  if (mRunning) StopRunControls();
  if (mServer.HasConnection()) ServerDisconnect();
  if (mMenu != nullptr) mMenu->Release();
}

}  // namespace orvanta
