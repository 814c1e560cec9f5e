#include "app/orvanta_dlg.h"
#include "app/window_records.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <iterator>

#include "app/control_ids.h"
#include "app/digits.h"
#include "app/digits_line_edit.h"
#include "app/message_log_list.h"
#include "app/run_status_bar.h"
#include "app/window_wait.h"
#include "client/socket_layer.h"
#include "log/log_file.h"
#include "trials/card_deck.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta {
namespace {

constexpr const char kLogFileName[] = "OrvantaLogFile.txt";
// How often a Stop whose worker is still ending looks again.
constexpr int kStopPollMs = 100;

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

// Gives a control its stable name and its template number.
template <class W>
W* Named(W* widget, const ctl::ControlName& control) {
  widget->setObjectName(QString::fromLatin1(control.name));
  if (control.id != 0) widget->setProperty("controlId", control.id);
  return widget;
}

QLabel* MakeLabel(const char* text, const ctl::ControlName& control) {
  return Named(new QLabel(QString::fromLatin1(text)), control);
}

QPushButton* MakeButton(const char* text, const ctl::ControlName& control) {
  auto* button = Named(new QPushButton(QString::fromLatin1(text)), control);
  // Enter never presses a button of this window.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QGroupBox* MakeGroup(const char* title, const ctl::ControlName& control) {
  return Named(new QGroupBox(QString::fromLatin1(title)), control);
}

QListWidget* MakeListBox(const ctl::ControlName& control) {
  auto* list = Named(new QListWidget, control);
  list->setSortingEnabled(false);  // new entries go to the end
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setUniformItemSizes(true);
  return list;
}

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

// Marks the time in which the program itself changes the fields: focus
// changes caused by that (a focused field being disabled) commit nothing.
class OrvantaDlg::CommitBlock {
 public:
  explicit CommitBlock(OrvantaDlg* dialog) : dialog_(dialog) { ++dialog_->mCommitBlock; }
  ~CommitBlock() { --dialog_->mCommitBlock; }
  CommitBlock(const CommitBlock&) = delete;
  CommitBlock& operator=(const CommitBlock&) = delete;

 private:
  OrvantaDlg* dialog_;
};

OrvantaDlg::OrvantaDlg(const Services& services, QWidget* parent)
    : QDialog(parent), services_(services), mIcon(MakeApplicationIcon()) {
  setObjectName(QStringLiteral("orvantaDlg"));
  // Caption, system menu, minimise and maximise; resizable down to a size
  // that fits a 1280 x 720 screen.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("Orvanta"));
  setSizeGripEnabled(false);
  BuildControls();

  mKeyboardFilter = new KeyboardFilter(this);
  qApp->installEventFilter(mKeyboardFilter);
}

OrvantaDlg::~OrvantaDlg() {
  ++mCommitBlock;  // the fields are going away; nothing more is committed
  bool registered = false;
  services_.mainWindow.Call(
      [&](WindowListener& window) { registered = &window == static_cast<WindowListener*>(this); });
  if (registered) services_.mainWindow.Unregister();
  // A run must not outlive the window that shows it.
  services_.trials.StopProcessingTrials();
  if (mKeyboardFilter != nullptr) {
    qApp->removeEventFilter(mKeyboardFilter);
    delete mKeyboardFilter;
    mKeyboardFilter = nullptr;
  }
}

// ---------------------------------------------------------------------------
// Controls

OrvantaDlg::EditField* OrvantaDlg::AddEditField(EditField::Kind kind, QLineEdit* edit,
                                                QLabel* label) {
  EditField field{};
  field.kind = kind;
  field.edit = edit;
  field.label = label;
  mFields.push_back(field);
  edit->installEventFilter(this);
  return &mFields.back();
}

void OrvantaDlg::BuildControls() {
  // Left column: trial list properties and run controls.
  auto* listProperties = MakeGroup("Trial List Properties", ctl::kTrialListPropertiesGroup);
  auto* listPropertiesLayout = new QVBoxLayout(listProperties);

  auto* shuffleGrid = new QGridLayout;
  mShuffleTypeCombo = Named(new QComboBox, ctl::kShuffleTypeCombo);
  mShuffleTypeCombo->setMinimumWidth(90);
  mShuffleButton = MakeButton("Shuffle", ctl::kShuffleButton);
  mMaxConsecutiveLabel = MakeLabel("Max Consecutive Type Count", ctl::kMaxConsecutiveLabel);
  mMaxConsecutiveEdit = Named(new DigitsLineEdit, ctl::kMaxConsecutiveEdit);
  mMaxConsecutiveEdit->setFixedWidth(60);
  shuffleGrid->addWidget(MakeLabel("Shuffle Type", ctl::kShuffleTypeLabel), 0, 0);
  shuffleGrid->addWidget(mShuffleTypeCombo, 0, 1);
  shuffleGrid->addWidget(mShuffleButton, 0, 2);
  shuffleGrid->addWidget(mMaxConsecutiveLabel, 1, 0, 1, 2);
  shuffleGrid->addWidget(mMaxConsecutiveEdit, 1, 2);
  listPropertiesLayout->addLayout(shuffleGrid);

  auto* trialListGroup = MakeGroup("Trial List", ctl::kTrialListGroup);
  auto* trialListLayout = new QVBoxLayout(trialListGroup);
  mTrialList = MakeListBox(ctl::kTrialList);
  mTrialList->setMinimumSize(230, 100);
  trialListLayout->addWidget(mTrialList);
  listPropertiesLayout->addWidget(trialListGroup, 1);

  auto* numberRow = new QHBoxLayout;
  mCurrentTrialNumberText = Named(new QLabel(QStringLiteral("0")), ctl::kCurrentTrialNumberText);
  mCurrentTrialNumberText->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  mCurrentTrialNumberText->setMinimumWidth(70);
  numberRow->addWidget(MakeLabel("Current Trial Number", ctl::kCurrentTrialNumberLabel));
  numberRow->addWidget(mCurrentTrialNumberText);
  numberRow->addStretch(1);
  // How far a step of the run may stray before its verdict says so.
  mTimingToleranceEdit = Named(new DigitsLineEdit, ctl::kTimingToleranceEdit);
  mTimingToleranceEdit->setMaximumWidth(70);
  mTimingToleranceEdit->setToolTip(
      QStringLiteral("Timing tolerance of the next run, in ms: a step further than this from its "
                     "plan (fixed schedule) or nominal value (relative) puts the run's timing "
                     "outside the tolerance, and its verdict says so."));
  numberRow->addWidget(MakeLabel("Tolerance (ms)", ctl::kTimingToleranceLabel));
  numberRow->addWidget(mTimingToleranceEdit);
  listPropertiesLayout->addLayout(numberRow);

  auto* runRow = new QHBoxLayout;
  mStartButton = MakeButton("Start", ctl::kStartButton);
  mPauseButton = MakeButton("Pause", ctl::kPauseButton);
  mStopButton = MakeButton("Stop", ctl::kStopButton);
  runRow->addWidget(mStartButton);
  runRow->addWidget(mPauseButton);
  runRow->addWidget(mStopButton);
  listPropertiesLayout->addLayout(runRow);

  // Right column: the trial type editor.
  auto* trialProperties = MakeGroup("Trial Properties", ctl::kTrialPropertiesGroup);
  auto* trialPropertiesLayout = new QVBoxLayout(trialProperties);
  auto* editorTop = new QHBoxLayout;

  auto* typeListGroup = MakeGroup("Trial Type List", ctl::kTrialTypeListGroup);
  auto* typeListLayout = new QVBoxLayout(typeListGroup);
  mTrialTypeList = MakeListBox(ctl::kTrialTypeList);
  mTrialTypeList->setMinimumSize(170, 80);
  typeListLayout->addWidget(mTrialTypeList, 1);
  auto* typeButtons = new QHBoxLayout;
  mAddTypeButton = MakeButton("Add Type", ctl::kAddTypeButton);
  mRemoveTypeButton = MakeButton("Remove Type", ctl::kRemoveTypeButton);
  typeButtons->addWidget(mAddTypeButton);
  typeButtons->addWidget(mRemoveTypeButton);
  typeListLayout->addLayout(typeButtons);
  editorTop->addWidget(typeListGroup);

  auto* editorFields = new QVBoxLayout;
  auto* basicGrid = new QGridLayout;
  auto addRow = [](QGridLayout* grid, int row, QLabel* label, QLineEdit* edit) {
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
  };
  auto* nameEdit = Named(new QLineEdit, ctl::kNameEdit);
  nameEdit->setMinimumWidth(160);
  mNameField = AddEditField(EditField::Kind::kName, nameEdit, MakeLabel("Name", ctl::kNameLabel));
  mTrialCountField =
      AddEditField(EditField::Kind::kTrialCount, Named(new DigitsLineEdit, ctl::kTrialCountEdit),
                   MakeLabel("Trial Count", ctl::kTrialCountLabel));
  mTrialDurationField =
      AddEditField(EditField::Kind::kNumber, Named(new DigitsLineEdit, ctl::kTrialDurationEdit),
                   MakeLabel("Trial Duration (ms)", ctl::kTrialDurationLabel));
  mTrialDurationField->getNumber = &Trial::GetTrialDuration;
  mTrialDurationField->setNumber = &Trial::SetTrialDuration;
  mInterTrialIntervalField = AddEditField(
      EditField::Kind::kNumber, Named(new DigitsLineEdit, ctl::kInterTrialIntervalEdit),
      MakeLabel("Inter Trial Interval (ms)", ctl::kInterTrialIntervalLabel));
  mInterTrialIntervalField->getNumber = &Trial::GetInterTrialInterval;
  mInterTrialIntervalField->setNumber = &Trial::SetInterTrialInterval;
  addRow(basicGrid, 0, mNameField->label, mNameField->edit);
  addRow(basicGrid, 1, mTrialCountField->label, mTrialCountField->edit);
  addRow(basicGrid, 2, mTrialDurationField->label, mTrialDurationField->edit);
  addRow(basicGrid, 3, mInterTrialIntervalField->label, mInterTrialIntervalField->edit);
  editorFields->addLayout(basicGrid);

  auto numberField = [this](const ctl::ControlName& editName, const char* labelText,
                            const ctl::ControlName& labelName, int32_t (Trial::*get)() const,
                            void (Trial::*set)(int32_t)) {
    EditField* field = AddEditField(EditField::Kind::kNumber, Named(new DigitsLineEdit, editName),
                                    MakeLabel(labelText, labelName));
    field->getNumber = get;
    field->setNumber = set;
    return field;
  };
  auto textField = [this](const ctl::ControlName& editName, const char* labelText,
                          const ctl::ControlName& labelName, std::string (Trial::*get)() const,
                          void (Trial::*set)(const std::string&), bool allowEmpty) {
    EditField* field = AddEditField(EditField::Kind::kText, Named(new QLineEdit, editName),
                                    MakeLabel(labelText, labelName));
    field->getText = get;
    field->setText = set;
    field->allowEmpty = allowEmpty;
    return field;
  };

  // One "Start of Trial" / "End of Trial" group: event and pulse.
  struct TrialEndGroup {
    QGroupBox* box;
    CheckGroup event;
    CheckGroup pulse;
  };
  auto makeEndGroup = [&](bool start) {
    TrialEndGroup group{};
    group.box = MakeGroup(start ? "Start of Trial" : "End of Trial",
                          start ? ctl::kStartOfTrialGroup : ctl::kEndOfTrialGroup);
    auto* grid = new QGridLayout(group.box);
    auto* eventCheck = Named(new QCheckBox(QStringLiteral("Generate Event")),
                             start ? ctl::kStartGenerateEventCheck : ctl::kEndGenerateEventCheck);
    EditField* eventString =
        start ? textField(ctl::kStartEventStringEdit, "Event String", ctl::kStartEventStringLabel,
                          &Trial::GetStartOfTrialEventString, &Trial::SetStartOfTrialEventString,
                          true)
              : textField(ctl::kEndEventStringEdit, "Event String", ctl::kEndEventStringLabel,
                          &Trial::GetEndOfTrialEventString, &Trial::SetEndOfTrialEventString, true);
    EditField* ttlValue =
        start ? numberField(ctl::kStartTtlValueEdit, "TTL Value", ctl::kStartTtlValueLabel,
                            &Trial::GetStartOfTrialEventTTLValue,
                            &Trial::SetStartOfTrialEventTTLValue)
              : numberField(ctl::kEndTtlValueEdit, "TTL Value", ctl::kEndTtlValueLabel,
                            &Trial::GetEndOfTrialEventTTLValue, &Trial::SetEndOfTrialEventTTLValue);
    auto* pulseCheck =
        Named(new QCheckBox(QStringLiteral("Generate TTL Pulse")),
              start ? ctl::kStartGenerateTtlPulseCheck : ctl::kEndGenerateTtlPulseCheck);
    EditField* bit =
        start ? numberField(ctl::kStartBitNumberEdit, "Bit Number", ctl::kStartBitNumberLabel,
                            &Trial::GetStartOfTrialTTLPulseBitNumber,
                            &Trial::SetStartOfTrialTTLPulseBitNumber)
              : numberField(ctl::kEndBitNumberEdit, "Bit Number", ctl::kEndBitNumberLabel,
                            &Trial::GetEndOfTrialTTLPulseBitNumber,
                            &Trial::SetEndOfTrialTTLPulseBitNumber);
    EditField* duration =
        start ? numberField(ctl::kStartPulseDurationEdit, "Duration (ms)",
                            ctl::kStartPulseDurationLabel, &Trial::GetStartOfTrialTTLPulseDuration,
                            &Trial::SetStartOfTrialTTLPulseDuration)
              : numberField(ctl::kEndPulseDurationEdit, "Duration (ms)",
                            ctl::kEndPulseDurationLabel, &Trial::GetEndOfTrialTTLPulseDuration,
                            &Trial::SetEndOfTrialTTLPulseDuration);
    EditField* board =
        start ? numberField(ctl::kStartBoardNumberEdit, "Board Number", ctl::kStartBoardNumberLabel,
                            &Trial::GetStartOfTrialTTLPulseBoardNumber,
                            &Trial::SetStartOfTrialTTLPulseBoardNumber)
              : numberField(ctl::kEndBoardNumberEdit, "Board Number", ctl::kEndBoardNumberLabel,
                            &Trial::GetEndOfTrialTTLPulseBoardNumber,
                            &Trial::SetEndOfTrialTTLPulseBoardNumber);
    EditField* subSystem =
        start
            ? textField(ctl::kStartSubSystemNameEdit, "Sub System Name",
                        ctl::kStartSubSystemNameLabel, &Trial::GetStartOfTrialTTLPulseSubSystemName,
                        &Trial::SetStartOfTrialTTLPulseSubSystemName, false)
            : textField(ctl::kEndSubSystemNameEdit, "Sub System Name", ctl::kEndSubSystemNameLabel,
                        &Trial::GetEndOfTrialTTLPulseSubSystemName,
                        &Trial::SetEndOfTrialTTLPulseSubSystemName, false);
    int row = 0;
    grid->addWidget(eventCheck, row++, 0, 1, 2);
    for (EditField* f : {eventString, ttlValue}) {
      grid->addWidget(f->label, row, 0);
      grid->addWidget(f->edit, row++, 1);
    }
    grid->addWidget(pulseCheck, row++, 0, 1, 2);
    for (EditField* f : {bit, duration, board, subSystem}) {
      grid->addWidget(f->label, row, 0);
      grid->addWidget(f->edit, row++, 1);
    }
    grid->setColumnStretch(1, 1);
    if (start) {
      group.event = {eventCheck,
                     &Trial::GetStartOfTrialGenerateEvent,
                     &Trial::SetStartOfTrialGenerateEvent,
                     {eventString, ttlValue}};
      group.pulse = {pulseCheck,
                     &Trial::GetStartOfTrialGenerateTTLPulse,
                     &Trial::SetStartOfTrialGenerateTTLPulse,
                     {bit, duration, board, subSystem}};
    } else {
      group.event = {eventCheck,
                     &Trial::GetEndOfTrialGenerateEvent,
                     &Trial::SetEndOfTrialGenerateEvent,
                     {eventString, ttlValue}};
      group.pulse = {pulseCheck,
                     &Trial::GetEndOfTrialGenerateTTLPulse,
                     &Trial::SetEndOfTrialGenerateTTLPulse,
                     {bit, duration, board, subSystem}};
    }
    return group;
  };
  TrialEndGroup startGroup = makeEndGroup(true);
  TrialEndGroup endGroup = makeEndGroup(false);

  // Wav File Properties.
  auto* wavGroup = MakeGroup("Wav File Properties", ctl::kWavFilePropertiesGroup);
  auto* wavGrid = new QGridLayout(wavGroup);
  auto* playCheck = Named(new QCheckBox(QStringLiteral("Play Wav File")), ctl::kPlayWavFileCheck);
  mBrowseButton = MakeButton("Browse", ctl::kBrowseButton);
  EditField* wavName = textField(ctl::kWavFileNameEdit, "File Name", ctl::kWavFileNameLabel,
                                 &Trial::GetWavFileName, &Trial::SetWavFileName, true);
  EditField* wavBuffer =
      numberField(ctl::kWavBufferNumberEdit, "Buffer Number", ctl::kWavBufferNumberLabel,
                  &Trial::GetWavFileBufferNumber, &Trial::SetWavFileBufferNumber);
  EditField* wavBoard =
      numberField(ctl::kWavBoardNumberEdit, "Board Number", ctl::kWavBoardNumberLabel,
                  &Trial::GetWavFileBoardNumber, &Trial::SetWavFileBoardNumber);
  EditField* wavSubSystem =
      textField(ctl::kWavSubSystemNameEdit, "Sub System Name", ctl::kWavSubSystemNameLabel,
                &Trial::GetWavFileSubSystemName, &Trial::SetWavFileSubSystemName, false);
  wavGrid->addWidget(playCheck, 0, 0, 1, 2);
  wavGrid->addWidget(mBrowseButton, 0, 3);
  wavGrid->addWidget(wavName->label, 1, 0);
  wavGrid->addWidget(wavName->edit, 1, 1, 1, 3);
  wavGrid->addWidget(wavBuffer->label, 2, 0);
  wavGrid->addWidget(wavBuffer->edit, 2, 1);
  wavGrid->addWidget(wavBoard->label, 2, 2);
  wavGrid->addWidget(wavBoard->edit, 2, 3);
  wavGrid->addWidget(wavSubSystem->label, 3, 0);
  wavGrid->addWidget(wavSubSystem->edit, 3, 1, 1, 3);
  wavGrid->setColumnStretch(1, 1);
  wavGrid->setColumnStretch(3, 1);
  editorFields->addWidget(wavGroup);
  editorFields->addStretch(1);
  editorTop->addLayout(editorFields, 1);
  trialPropertiesLayout->addLayout(editorTop);

  auto* editorBottom = new QHBoxLayout;
  editorBottom->addWidget(startGroup.box);
  editorBottom->addWidget(endGroup.box);
  trialPropertiesLayout->addLayout(editorBottom);

  // Refresh order of the check groups: start of trial, end of trial, wav.
  mCheckGroups = {startGroup.event,
                  startGroup.pulse,
                  endGroup.event,
                  endGroup.pulse,
                  {playCheck,
                   &Trial::GetPlayWavFile,
                   &Trial::SetPlayWavFile,
                   {wavName, wavBuffer, wavBoard, wavSubSystem},
                   mBrowseButton}};

  mMaxConsecutiveField =
      AddEditField(EditField::Kind::kMaxConsecutive, mMaxConsecutiveEdit, mMaxConsecutiveLabel);

  // Bottom: the System Message Log across the whole width.
  auto* logGroup = MakeGroup("System Message Log", ctl::kSystemMessageLogGroup);
  auto* logLayout = new QVBoxLayout(logGroup);
  mMessageLog = Named(new MessageLogList(kMaxLogEntries), ctl::kMessageLog);
  mMessageLog->setMinimumHeight(90);
  mMessageLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  logLayout->addWidget(mMessageLog);

  auto* columns = new QHBoxLayout;
  columns->addWidget(listProperties);
  columns->addWidget(trialProperties, 1);
  auto* root = new QVBoxLayout(this);
  // The lists and the message log take the room a larger window gives.
  root->addLayout(columns, 3);
  root->addWidget(logGroup, 1);
  BuildStatusAndLogControls(logLayout);

  // Signals of the user's actions. Changes the program makes itself are done
  // with the signals blocked, or use signals that only user actions emit.
  connect(mAddTypeButton, &QPushButton::clicked, this, [this] { OnAddType(); });
  connect(mRemoveTypeButton, &QPushButton::clicked, this, [this] { OnRemoveType(); });
  connect(mTrialTypeList, &QListWidget::itemSelectionChanged, this,
          [this] { OnTrialTypeSelected(); });
  connect(mBrowseButton, &QPushButton::clicked, this, [this] { OnBrowseWavFile(); });
  for (CheckGroup& group : mCheckGroups) {
    connect(group.check, &QCheckBox::clicked, this, [this, &group] { OnCheckBoxClicked(group); });
  }
  connect(mShuffleButton, &QPushButton::clicked, this, [this] { OnShuffle(); });
  connect(mShuffleTypeCombo, &QComboBox::activated, this, [this] { OnShuffleTypeChanged(); });
  connect(mStartButton, &QPushButton::clicked, this, [this] { OnStart(); });
  connect(mPauseButton, &QPushButton::clicked, this, [this] { OnPause(); });
  connect(mStopButton, &QPushButton::clicked, this, [this] { OnStop(); });
  // Committed as the editor's fields are: on Enter and when it loses the focus.
  mTimingToleranceEdit->installEventFilter(this);
  ShowTimingTolerance();
}

bool OrvantaDlg::CreateMenuBar() {
  mMenu = Named(new QMenuBar(this), ctl::kMenuBar);
  auto addAction = [](QMenu* menu, const char* text, const ctl::ControlName& control) {
    QAction* action = menu->addAction(QString::fromLatin1(text));
    action->setObjectName(QString::fromLatin1(control.name));
    action->setProperty("commandId", control.id);
    return action;
  };
  QMenu* file = Named(mMenu->addMenu(QStringLiteral("&File")), ctl::kFileMenu);
  addAction(file, "Open Configuration File", ctl::kOpenConfigurationFileAction);
  addAction(file, "Save Configuration File", ctl::kSaveConfigurationFileAction);
  file->addSeparator();
  addAction(file, "Resume Session...", ctl::kResumeSessionAction);
  addAction(file, "Session Records Folder...", ctl::kRecordsFolderAction);
  file->addSeparator();
  addAction(file, "View Log File", ctl::kViewLogFileAction);
  QMenu* view = Named(mMenu->addMenu(QStringLiteral("V&iew")), ctl::kViewMenu);
  addAction(view, "Last Session Report", ctl::kLastSessionReportAction);
  QMenu* vintra = Named(mMenu->addMenu(QStringLiteral("&Vintra")), ctl::kVintraMenu);
  addAction(vintra, "Connect To Server", ctl::kConnectToServerAction);
  addAction(vintra, "Disconnect From Server", ctl::kDisconnectFromServerAction);
  addAction(vintra, "Set Server Name", ctl::kSetServerNameAction);
  // Run > Fixed Schedule: the timing of the next run. It shows the model's
  // mode each time the menu opens, so a setup file's -SetTimingMode shows.
  QMenu* run = Named(mMenu->addMenu(QStringLiteral("&Run")), ctl::kRunMenu);
  QAction* fixed = addAction(run, "Fixed Schedule", ctl::kFixedScheduleAction);
  fixed->setCheckable(true);
  connect(run, &QMenu::aboutToShow, this, [this, fixed] {
    fixed->setChecked(services_.trials.GetTimingMode() == TimingMode::kFixed);
  });
  connect(fixed, &QAction::triggered, this, [this](bool checked) {
    services_.trials.SetTimingMode(checked ? TimingMode::kFixed : TimingMode::kRelative);
    services_.log.WriteLogEntry(kLogNotice,
                                std::string("OrvantaDlg::OnFixedSchedule() - Timing mode set to ") +
                                    TimingModeName(services_.trials.GetTimingMode()) +
                                    "; it applies from the next run.");
  });
  QMenu* help = Named(mMenu->addMenu(QStringLiteral("&Help")), ctl::kHelpMenu);
  addAction(help, "About Orvanta...", ctl::kAboutAction);

  // Every command stays available at all times, also during a run. The
  // handlers run once the menu has closed.
  const std::pair<const ctl::ControlName*, void (OrvantaDlg::*)()> handlers[] = {
      {&ctl::kOpenConfigurationFileAction, &OrvantaDlg::OnOpenConfigurationFile},
      {&ctl::kSaveConfigurationFileAction, &OrvantaDlg::OnSaveConfigurationFile},
      {&ctl::kViewLogFileAction, &OrvantaDlg::OnViewLogFile},
      {&ctl::kResumeSessionAction, &OrvantaDlg::OnResumeSession},
      {&ctl::kRecordsFolderAction, &OrvantaDlg::OnChooseRecordsFolder},
      {&ctl::kLastSessionReportAction, &OrvantaDlg::OnViewLastSessionReport},
      {&ctl::kConnectToServerAction, &OrvantaDlg::OnConnectToServer},
      {&ctl::kDisconnectFromServerAction, &OrvantaDlg::OnDisconnectFromServer},
      {&ctl::kSetServerNameAction, &OrvantaDlg::OnSetServerName},
      {&ctl::kAboutAction, &OrvantaDlg::OnAbout},
  };
  for (const auto& [control, handler] : handlers) {
    QAction* action = mMenu->findChild<QAction*>(QString::fromLatin1(control->name));
    if (action == nullptr) return false;
    connect(
        action, &QAction::triggered, this, [this, handler = handler] { (this->*handler)(); },
        Qt::QueuedConnection);
  }
  AddMenuAdditions();

  layout()->setMenuBar(mMenu);
  return layout()->menuBar() == mMenu;
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
  CommitBlock block(this);

  // The "&About Orvanta..." system-menu item: Qt offers no portable access to
  // the window's system menu, so the About box is reached through the Help
  // menu's "About Orvanta..." instead.

  setWindowIcon(mIcon);
  services_.log.SetLogFilename(services_.applicationDirectory + kLogFileName);
  // The client's own log, so that the failed-connect box's pointer to it
  // holds.
  const std::string clientLog = services_.applicationDirectory + kClientLogFileName;
  if (!services_.server.OpenClientLog(clientLog)) {
    services_.log.WriteLogEntry(kLogWarning,
                                "OrvantaDlg::OnInitDialog() - Warning, unable to "
                                "open the Vintra logfile: " +
                                    clientLog);
  }

  if (!CreateMenuBar()) {
    services_.log.WriteLogEntry(kLogError,
                                "OrvantaDlg::OnInitDialog() - Error, menu creation failed.");
    return true;
  }

  mAddTypeButton->setFocus(Qt::OtherFocusReason);
  mRemoveTypeButton->setEnabled(false);
  UpdateTrialProperties(mCurrentTrialName);

  {
    const QSignalBlocker blocker(mShuffleTypeCombo);
    mShuffleTypeCombo->clear();
    mShuffleTypeCombo->addItem(QStringLiteral("Normal"));
    mShuffleTypeCombo->addItem(QStringLiteral("Group"));
    mShuffleTypeCombo->setCurrentIndex(1);
  }
  UpdateShuffleControls();

  mStartButton->setEnabled(true);
  mStopButton->setEnabled(false);
  mPauseButton->setEnabled(false);
  mCurrentTrialNumberText->setText(QStringLiteral("0"));

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
      if (auto* edit = qobject_cast<QLineEdit*>(target)) CommitField(edit);
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
      services_.server.Cancel();
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
    if (services_.boxes.Show(question, "Exit", BoxIcon::kQuestion, BoxButtons::kYesNo) !=
        BoxResult::kYes) {
      return false;
    }
  }
  if (HasUnsavedChanges()) {
    const int32_t numTypes = services_.trials.GetNumTrials();
    const std::string question =
        "The current setup has changes that have not been saved.  Its " + FormatNumber(numTypes) +
        (numTypes == 1 ? " trial type" : " trial types") +
        " and the trial order will be lost.\r\n\r\nClose the window without saving?";
    if (services_.boxes.Show(question, "Exit", BoxIcon::kQuestion, BoxButtons::kYesNo) !=
        BoxResult::kYes) {
      return false;
    }
  }
  return true;
}

void OrvantaDlg::OnClose() {
  // A run in progress ends before the window (and then the program) goes.
  services_.trials.StopProcessingTrials();
  if (mRunning) StopRunControls();
  if (services_.server.HasConnection()) ServerDisconnect();
  if (mMenu != nullptr) {
    delete mMenu;
    mMenu = nullptr;
  }
}

bool OrvantaDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    // A field commits when it loses the focus; a context menu or a drop-down
    // list opening over it is not a loss.
    auto* focus = static_cast<QFocusEvent*>(event);
    if (focus->reason() != Qt::PopupFocusReason) {
      if (auto* edit = qobject_cast<QLineEdit*>(watched)) CommitField(edit);
    }
  }
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// The editor

void OrvantaDlg::ShowField(const EditField& field, const Trial& trial) {
  if (field.getNumber != nullptr) {
    field.edit->setText(Q(FormatNumber((trial.*field.getNumber)())));
  } else if (field.getText != nullptr) {
    field.edit->setText(Q((trial.*field.getText)()));
  }
  field.edit->setEnabled(true);
  field.label->setEnabled(true);
}

void OrvantaDlg::EmptyField(const EditField& field) {
  field.edit->clear();
  field.edit->setEnabled(false);
  field.label->setEnabled(false);
}

void OrvantaDlg::ShowCheckGroup(const CheckGroup& group, const Trial& trial) {
  const bool checked = (trial.*group.get)();
  group.check->setChecked(checked);
  group.check->setEnabled(true);
  for (const EditField* field : group.governed) {
    if (checked) {
      ShowField(*field, trial);
    } else {
      EmptyField(*field);
    }
  }
  if (group.governedButton != nullptr) group.governedButton->setEnabled(checked);
}

void OrvantaDlg::ClearTrialProperties() {
  for (const EditField& field : mFields) {
    if (field.kind != EditField::Kind::kMaxConsecutive) EmptyField(field);
  }
  for (const CheckGroup& group : mCheckGroups) {
    group.check->setChecked(false);
    group.check->setEnabled(false);
  }
  mBrowseButton->setEnabled(false);
}

void OrvantaDlg::UpdateTrialProperties(const std::string& name) {
  CommitBlock block(this);
  mCurrentTrialName = name;
  UpdateTrialList();

  if (name.empty()) {
    ClearTrialProperties();
    return;
  }
  Trial* trial = nullptr;
  if (services_.trials.GetTrial(name, trial) != 0 || trial == nullptr) return;

  mNameField->edit->setText(Q(name));
  mNameField->edit->setEnabled(true);
  mNameField->label->setEnabled(true);

  int32_t suitID = 0;
  int32_t count = 0;
  if (services_.trials.GetSuitID(name, suitID) != 0) return;
  if (services_.deck.GetNumCardsInSuit(suitID, count) != 0) return;

  // The count stays locked while a run deals from the deck.
  mTrialCountField->edit->setText(Q(FormatNumber(count)));
  mTrialCountField->edit->setEnabled(!mRunning);
  mTrialCountField->label->setEnabled(!mRunning);
  ShowField(*mTrialDurationField, *trial);
  ShowField(*mInterTrialIntervalField, *trial);
  for (const CheckGroup& group : mCheckGroups) ShowCheckGroup(group, *trial);
}

void OrvantaDlg::CommitField(QLineEdit* edit) {
  if (mCommitBlock > 0 || !edit->isEnabled()) return;
  if (edit == mTimingToleranceEdit) {
    OnTimingToleranceChanged();
    return;
  }
  auto it = std::find_if(mFields.begin(), mFields.end(),
                         [edit](const EditField& field) { return field.edit == edit; });
  if (it == mFields.end()) return;
  CommitBlock block(this);
  switch (it->kind) {
    case EditField::Kind::kName:
      CommitName(*it);
      break;
    case EditField::Kind::kTrialCount:
      CommitTrialCount(*it);
      break;
    case EditField::Kind::kNumber:
    case EditField::Kind::kText:
      CommitTrialField(*it);
      break;
    case EditField::Kind::kMaxConsecutive:
      OnMaxConsecutiveChanged();
      break;
  }
}

void OrvantaDlg::CommitTrialField(const EditField& field) {
  Trial* trial = nullptr;
  if (services_.trials.GetTrial(mCurrentTrialName, trial) != 0 || trial == nullptr) return;
  const std::string text = S(field.edit->text());
  if (text.empty() && !field.allowEmpty) {
    if (field.getNumber != nullptr) {
      field.edit->setText(Q(FormatNumber((trial->*field.getNumber)())));
    } else {
      field.edit->setText(Q((trial->*field.getText)()));
    }
    ShowErrorAfterCommit(kEmptyFieldMessage, field.edit);
    return;
  }
  if (field.setNumber != nullptr) {
    if (RefuseOverRange(field.edit, text, FormatNumber((trial->*field.getNumber)()))) return;
    (trial->*field.setNumber)(ParseDigitsField(text));
  } else {
    (trial->*field.setText)(text);
  }
  UpdateTrialProperties(mCurrentTrialName);
}

void OrvantaDlg::CommitTrialCount(const EditField& field) {
  int32_t suitID = 0;
  if (services_.trials.GetSuitID(mCurrentTrialName, suitID) != 0) return;
  const std::string text = S(field.edit->text());
  if (text.empty()) {
    int32_t count = 0;
    if (services_.deck.GetNumCardsInSuit(suitID, count) == 0) {
      field.edit->setText(Q(FormatNumber(count)));
      ShowErrorAfterCommit(kEmptyFieldMessage, field.edit);
    } else {
      ShowErrorAfterCommit(kEmptyFieldMessage, nullptr);
    }
    return;
  }
  int32_t previous = 0;
  if (services_.deck.GetNumCardsInSuit(suitID, previous) == 0 &&
      RefuseOverRange(field.edit, text, FormatNumber(previous))) {
    return;
  }
  if (services_.deck.SetNumCardsInSuit(suitID, ParseDigitsField(text)) != 0) return;
  UpdateTrialProperties(mCurrentTrialName);
  NoteRunLimitBreaks();
}

void OrvantaDlg::CommitName(const EditField& field) {
  const std::string text = S(field.edit->text());
  if (text == mCurrentTrialName) return;
  if (text.empty()) {
    field.edit->setText(Q(mCurrentTrialName));
    ShowErrorAfterCommit(
        "Unable to set new trial type name, the name cannot be an empty string.  The previous "
        "name was not changed.",
        field.edit);
    return;
  }
  Trial* trial = nullptr;
  if (services_.trials.GetTrial(mCurrentTrialName, trial) != 0 || trial == nullptr) return;
  if (!services_.trials.IsTrialNameUnused(text)) {
    field.edit->setText(Q(mCurrentTrialName));
    ShowErrorAfterCommit(
        "Unable to set new trial type name, the name is already in use.  The previous name was "
        "not changed.",
        field.edit);
    return;
  }
  trial->SetName(text);
  const std::string previous = mCurrentTrialName;
  ChangeTrialTypeName(previous, text);
  mCurrentTrialName = text;
  // The run order shows type names: show the new one at once.
  UpdateTrialList();
}

void OrvantaDlg::ChangeTrialTypeName(const std::string& currentName, const std::string& newName) {
  for (int row = 0; row < mTrialTypeList->count(); ++row) {
    if (S(mTrialTypeList->item(row)->text()) == currentName) {
      const QSignalBlocker blocker(mTrialTypeList);
      delete mTrialTypeList->takeItem(row);
      mTrialTypeList->insertItem(row, Q(newName));
      SetSelectedTrialTypeRow(row);
      return;
    }
  }
  mMessage =
      "OrvantaDlg::ChangeTrialTypeName() - Error, unable to find trial name in list, therefore a "
      "change could not be made.  Current Name: " +
      currentName + ", New Name: " + newName;
  services_.log.WriteLogEntry(kLogError, mMessage);
}

void OrvantaDlg::OnCheckBoxClicked(const CheckGroup& group) {
  Trial* trial = nullptr;
  if (services_.trials.GetTrial(mCurrentTrialName, trial) != 0 || trial == nullptr) return;
  (trial->*group.set)(group.check->isChecked());
  UpdateTrialProperties(mCurrentTrialName);
}

void OrvantaDlg::OnAddType() {
  std::string name = "Trial Type " + FormatNumber(mNextTrialTypeNumber);
  ++mNextTrialTypeNumber;
  while (!services_.trials.IsTrialNameUnused(name)) {
    name = "Trial Type " + FormatNumber(mNextTrialTypeNumber);
    ++mNextTrialTypeNumber;
  }
  // On success the trial list tells the window (AddTrialTypeToList).
  services_.trials.AddTrial(name);
}

void OrvantaDlg::OnRemoveType() {
  const QList<QListWidgetItem*> selected = mTrialTypeList->selectedItems();
  if (selected.isEmpty()) {
    ShowError("Unable to remove item from trial type list, an item is not currently selected.");
    return;
  }
  const std::string name = S(selected.first()->text());
  if (name.empty()) {
    ShowError("Unable to remove item from trial type list, the trial name is an empty string.");
    return;
  }
  // On success the trial list tells the window (RemoveTrialTypeFromList).
  services_.trials.RemoveTrial(name);
}

void OrvantaDlg::OnTrialTypeSelected() {
  const QList<QListWidgetItem*> selected = mTrialTypeList->selectedItems();
  if (selected.isEmpty()) {
    ShowError("Error, an item is not currently selected.");
    return;
  }
  const std::string name = S(selected.first()->text());
  if (name.empty()) {
    ShowError("Unable to update properties, the trial name is an empty string.");
    return;
  }
  UpdateTrialProperties(name);
}

void OrvantaDlg::OnBrowseWavFile() {
  FileDialogOptions options;
  options.title = "Wav File";
  options.filter = "Wav Files (*.wav)|*.wav||";
  options.initialName = "*.wav";
  options.defaultExtension = "wav";
  const std::optional<std::string> path = services_.files.ChooseFileToOpen(options);
  if (!path) return;
  Trial* trial = nullptr;
  if (services_.trials.GetTrial(mCurrentTrialName, trial) != 0 || trial == nullptr) return;
  trial->SetWavFileName(*path);
  UpdateTrialProperties(mCurrentTrialName);
}

void OrvantaDlg::SetSelectedTrialTypeRow(int row) {
  const QSignalBlocker blocker(mTrialTypeList);
  mTrialTypeList->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

void OrvantaDlg::ShowAddedTrialType(const std::string& name) {
  {
    const QSignalBlocker blocker(mTrialTypeList);
    mTrialTypeList->addItem(Q(name));
  }
  SetSelectedTrialTypeRow(mTrialTypeList->count() - 1);
  UpdateTrialProperties(name);
  mRemoveTypeButton->setEnabled(!mRunning);
}

void OrvantaDlg::ShowRemovedTrialType(const std::string& name) {
  int row = -1;
  for (int i = 0; i < mTrialTypeList->count(); ++i) {
    if (S(mTrialTypeList->item(i)->text()) == name) {
      row = i;
      break;
    }
  }
  if (row < 0) return;
  {
    const QSignalBlocker blocker(mTrialTypeList);
    delete mTrialTypeList->takeItem(row);
  }
  const int count = mTrialTypeList->count();
  if (count == 0) {
    UpdateTrialProperties(std::string());
    mRemoveTypeButton->setEnabled(false);
    return;
  }
  const int next = std::min(row, count - 1);
  SetSelectedTrialTypeRow(next);
  const std::string nextName = S(mTrialTypeList->item(next)->text());
  // Several types removed at once (New Setup, Replace): the next one in the
  // list may be gone from the trial list already; its own removal follows.
  UpdateTrialProperties(services_.trials.IsTrialNameUnused(nextName) ? std::string() : nextName);
}

// ---------------------------------------------------------------------------
// Error boxes

void OrvantaDlg::ShowError(const std::string& text) {
  mMessage = text;
  services_.boxes.Show(mMessage, kTrialTypePropertiesError, BoxIcon::kError, BoxButtons::kOk);
}

void OrvantaDlg::ShowErrorAfterCommit(const std::string& text, QLineEdit* field) {
  mMessage = text;
  QPointer<QLineEdit> target(field);
  QMetaObject::invokeMethod(
      this,
      [this, text, target] {
        services_.boxes.Show(text, kTrialTypePropertiesError, BoxIcon::kError, BoxButtons::kOk);
        if (target && target->isEnabled()) target->setFocus(Qt::OtherFocusReason);
      },
      Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// Trial order and shuffle controls

void OrvantaDlg::UpdateTrialList() {
  // Reads the deck's order without its deal cursor, which belongs to a run
  // that may be dealing from it.
  const std::vector<int32_t> order = services_.deck.GetOrder();
  mTrialList->setUpdatesEnabled(false);
  mTrialList->clear();
  for (size_t i = 0; i < order.size(); ++i) {
    Trial* trial = nullptr;
    if (services_.trials.GetTrial(order[i], trial) != 0 || trial == nullptr) continue;
    const int position = static_cast<int>(i) + 1;
    auto* item = new QListWidgetItem(Q(FormatNumber(position) + ".  " + trial->GetName()));
    item->setData(Qt::UserRole, position);
    mTrialList->addItem(item);
  }
  mTrialList->setUpdatesEnabled(true);
}

void OrvantaDlg::UpdateShuffleControls() {
  CommitBlock block(this);
  const QSignalBlocker blocker(mShuffleTypeCombo);
  if (services_.deck.GetShuffleType() != Normal) {
    mShuffleTypeCombo->setCurrentIndex(mShuffleTypeCombo->findText(QStringLiteral("Group")));
    mMaxConsecutiveEdit->clear();
    mMaxConsecutiveEdit->setEnabled(false);
    mMaxConsecutiveLabel->setEnabled(false);
  } else {
    mShuffleTypeCombo->setCurrentIndex(mShuffleTypeCombo->findText(QStringLiteral("Normal")));
    mMaxConsecutiveEdit->setText(Q(FormatNumber(services_.deck.GetMaxConsectutiveSameSuitCards())));
    mMaxConsecutiveEdit->setEnabled(true);
    mMaxConsecutiveLabel->setEnabled(true);
  }
  // The run settings a setup file carries show with its shuffle settings.
  if (mTimingToleranceEdit != nullptr) ShowTimingTolerance();
}

void OrvantaDlg::ShowTimingTolerance() {
  const QSignalBlocker blocker(mTimingToleranceEdit);
  mTimingToleranceEdit->setText(Q(FormatNumber(services_.trials.GetTimingTolerance())));
}

void OrvantaDlg::OnTimingToleranceChanged() {
  const std::string text = mTimingToleranceEdit->text().toStdString();
  if (text.empty() || DigitsFieldOverflows(text)) {
    ShowTimingTolerance();
    return;
  }
  const int32_t ms = ParseDigitsField(text);
  if (ms == services_.trials.GetTimingTolerance()) return;
  services_.trials.SetTimingTolerance(ms);
  ShowTimingTolerance();
  services_.log.WriteLogEntry(kLogNotice,
                              "OrvantaDlg::OnTimingToleranceChanged() - Timing "
                              "tolerance set to " +
                                  FormatNumber(services_.trials.GetTimingTolerance()) +
                                  " ms; it applies from the next run.");
}

void OrvantaDlg::OnShuffleTypeChanged() {
  if (RunInProgress()) {
    // The deck would be rebuilt under the worker; keep the order of the run.
    UpdateShuffleControls();
    ShowRunRefusal(kShuffleTypeDuringRunMessage);
    return;
  }
  const bool normal = mShuffleTypeCombo->currentText() == QStringLiteral("Normal");
  // The type in force chosen again: the deck (and a shuffled or loaded
  // order) stays as it is.
  if ((normal ? Normal : Group) == services_.deck.GetShuffleType()) return;
  services_.deck.SetShuffleType(normal ? Normal : Group);
  UpdateShuffleControls();
  UpdateTrialList();
}

void OrvantaDlg::OnMaxConsecutiveChanged() {
  const std::string text = S(mMaxConsecutiveEdit->text());
  if (text.empty()) {
    mMaxConsecutiveEdit->setText(Q(FormatNumber(services_.deck.GetMaxConsectutiveSameSuitCards())));
    ShowErrorAfterCommit(kEmptyFieldMessage, mMaxConsecutiveEdit);
    return;
  }
  if (RefuseOverRange(mMaxConsecutiveEdit, text,
                      FormatNumber(services_.deck.GetMaxConsectutiveSameSuitCards()))) {
    return;
  }
  if (services_.deck.SetMaxConsectutiveSameSuitCards(ParseDigitsField(text)) != 0) {
    // Refused (below 1; the deck logged why): show the limit still in force.
    mMaxConsecutiveEdit->setText(Q(FormatNumber(services_.deck.GetMaxConsectutiveSameSuitCards())));
  }
}

void OrvantaDlg::OnShuffle() {
  const int result = services_.deck.Shuffle();  // a failed repair is also logged
  UpdateTrialList();
  if (result != 0) ShowShuffleWarning();
}

void OrvantaDlg::ShowCurrentTrialNumber(int number) {
  mCurrentTrialNumberText->setText(Q(FormatNumber(number)));
  for (int row = 0; row < mTrialList->count(); ++row) {
    if (mTrialList->item(row)->data(Qt::UserRole).toInt() == number) {
      mTrialList->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
      mTrialList->scrollToItem(mTrialList->item(row));
      return;
    }
  }
}

void OrvantaDlg::OnStart() { StartRun(1); }

void OrvantaDlg::StartRun(int32_t firstTrial) {
  if (!ServerIsConnected()) {
    if (mClosing) return;  // a close request cancelled the check
    services_.boxes.Show(kNotConnectedMessage, kTrialProcessingCaption, BoxIcon::kError,
                         BoxButtons::kOk);
    return;
  }
  // A run with nothing to play would only pretend to have run.
  if (services_.deck.GetNumCards() == 0) {
    ShowRunRefusal(kEmptyRunMessage);
    return;
  }
  // The record begins before the first command (mResumeFrom is set by File >
  // Resume Session... for the one start it makes). Without one, the user
  // decides; the answer that needs no thought starts nothing.
  if (mRecords != nullptr) {
    std::string error;
    if (!mRecords->BeginRun(mServerName, firstTrial, mResumeFrom, error)) {
      mMessage = "No session record can be made in:\r\n\r\n" + mRecords->folder() + "\r\n\r\n" +
                 error +
                 "\r\n\r\nRun without a session record?  Its verdict will say so.  Choose a "
                 "folder that can be written with File > Session Records Folder... to keep one.";
      if (services_.boxes.Show(mMessage, kTrialProcessingCaption, BoxIcon::kWarning,
                               BoxButtons::kYesNo) != BoxResult::kYes) {
        services_.log.WriteLogEntry(kLogNotice,
                                    "OrvantaDlg::OnStart() - The run was not started: no session "
                                    "record can be made in " +
                                        mRecords->folder() + ": " + error);
        return;
      }
      mRecords->RunWithoutRecord(error);
    }
  }
  CommitBlock block(this);
  mRunning = true;
  mStartButton->setEnabled(false);
  mStopButton->setEnabled(true);
  mPauseButton->setEnabled(true);
  mPaused = false;
  mPauseButton->setText(QStringLiteral("Pause"));
  // A failed start is logged by the trial list; the controls stay in the
  // running state until Stop.
  mStatusBar->RunStarted(firstTrial, NominalTrialLengths(services_.trials, services_.deck));
  if (services_.trials.StartProcessingTrials(firstTrial) != 0) {
    mStatusBar->RunEnded(RunEnd::kFailed, "the trial worker could not be started");
    if (mRecords != nullptr) mRecords->RunNotStarted();
  }
  mShuffleButton->setEnabled(false);
  mAddTypeButton->setEnabled(false);
  mRemoveTypeButton->setEnabled(false);
  mTrialCountField->edit->setEnabled(false);
  mTrialCountField->label->setEnabled(false);
}

void OrvantaDlg::OnPause() {
  services_.trials.TogglePauseProcessingTrials();
  // The label follows the run's flag; without a run going (the worker could
  // not be started) the button still toggles its label.
  mPaused = services_.trials.IsProcessing() ? services_.trials.IsPaused() : !mPaused;
  mPauseButton->setText(mPaused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
}

bool OrvantaDlg::RunInProgress() const { return mRunning || services_.trials.IsProcessing(); }

void OrvantaDlg::ShowRunRefusal(const std::string& text) {
  mMessage = text;
  services_.boxes.Show(mMessage, kTrialProcessingCaption, BoxIcon::kError, BoxButtons::kOk);
}

void OrvantaDlg::StopRunControls() {
  CommitBlock block(this);
  services_.trials.StopProcessingTrials();
  if (mRunning && isVisible() && !services_.trials.WaitForRunEnd(std::chrono::milliseconds(0))) {
    // The worker outlasted Stop's wait (a pulse port reset that takes its
    // time): the run's controls stay as they are until it has ended, so that
    // nothing new starts while it still talks to the server.
    mStopButton->setEnabled(false);
    mPauseButton->setEnabled(false);
    if (!mStopPending) {
      mStopPending = true;
      QTimer::singleShot(kStopPollMs, this, [this] { FinishStopWhenEnded(); });
    }
    return;
  }
  if (mRunning) ReportRunEnded();
  mRunning = false;
  mPaused = false;
  mPauseButton->setText(QStringLiteral("Pause"));
  mStartButton->setEnabled(true);
  mStopButton->setEnabled(false);
  mPauseButton->setEnabled(false);
  mShuffleButton->setEnabled(true);
  mAddTypeButton->setEnabled(true);
  const bool anyType = mTrialTypeList->count() > 0;
  mRemoveTypeButton->setEnabled(anyType);
  mTrialCountField->edit->setEnabled(anyType);
  mTrialCountField->label->setEnabled(anyType);
  if (mRecords != nullptr) mRecords->LogEndOfRun();
}

// ---------------------------------------------------------------------------
// Calls from the model, the log and the trial worker

void OrvantaDlg::AddTrialTypeToList(const std::string& name) {
  Post({PendingCall::Kind::kAddType, name, 0});
}

void OrvantaDlg::RemoveTrialTypeFromList(const std::string& name) {
  Post({PendingCall::Kind::kRemoveType, name, 0});
}

void OrvantaDlg::SetCurrentTrialNumber(int number) {
  Post({PendingCall::Kind::kTrialNumber, std::string(), number});
}

void OrvantaDlg::FinishStopWhenEnded() {
  if (!services_.trials.WaitForRunEnd(std::chrono::milliseconds(0))) {
    QTimer::singleShot(kStopPollMs, this, [this] { FinishStopWhenEnded(); });
    return;
  }
  mStopPending = false;
  StopRunControls();
  CheckConnectionAfterRun();
}

void OrvantaDlg::OnStop() {
  if (OnWindowThread()) {
    StopRunControls();
    CheckConnectionAfterRun();
  } else {
    Post({PendingCall::Kind::kStop, std::string(), 0});
  }
}

void OrvantaDlg::OnRunEnding() { Post({PendingCall::Kind::kRunEnding, std::string(), 0}); }

void OrvantaDlg::AddLogMessage(const std::string& line) {
  bool post = false;
  {
    MutexLock lock(&mPendingMutex);
    mPendingLogLines.push_back(line);
    // Lines beyond what the list keeps would be dropped on arrival anyway.
    while (mPendingLogLines.size() > static_cast<size_t>(kMaxLogEntries)) {
      mPendingLogLines.pop_front();
    }
    post = !mFlushPosted;
    mFlushPosted = true;
  }
  if (post)
    QMetaObject::invokeMethod(
        this, [this] { FlushPending(); }, Qt::QueuedConnection);
}

void OrvantaDlg::Post(PendingCall call) {
  bool post = false;
  {
    MutexLock lock(&mPendingMutex);
    // Only the latest trial number matters; a burst of them shows the last.
    if (call.kind == PendingCall::Kind::kTrialNumber && !mPendingCalls.empty() &&
        mPendingCalls.back().kind == PendingCall::Kind::kTrialNumber) {
      mPendingCalls.back().number = call.number;
    } else {
      mPendingCalls.push_back(std::move(call));
    }
    post = !mFlushPosted;
    mFlushPosted = true;
  }
  if (post)
    QMetaObject::invokeMethod(
        this, [this] { FlushPending(); }, Qt::QueuedConnection);
}

void OrvantaDlg::FlushPending() {
  std::vector<PendingCall> calls;
  std::deque<std::string> lines;
  {
    MutexLock lock(&mPendingMutex);
    calls.swap(mPendingCalls);
    lines.swap(mPendingLogLines);
    mFlushPosted = false;
  }
  for (const PendingCall& call : calls) {
    switch (call.kind) {
      case PendingCall::Kind::kAddType:
        ShowAddedTrialType(call.name);
        break;
      case PendingCall::Kind::kRemoveType:
        ShowRemovedTrialType(call.name);
        break;
      case PendingCall::Kind::kTrialNumber:
        ShowCurrentTrialNumber(call.number);
        break;
      case PendingCall::Kind::kStop:
        StopRunControls();
        CheckConnectionAfterRun();
        break;
      case PendingCall::Kind::kRunEnding:
        // The end box follows in the queue: the window shows the end first.
        if (mStatusBar->following()) mStatusBar->Refresh();
        CheckConnectionAfterRun();
        break;
    }
  }
  if (!lines.empty()) AppendLogLines(lines);
}

void OrvantaDlg::AppendLogLines(const std::deque<std::string>& lines) {
  mMessageLog->AppendLines(lines);
}

}  // namespace orvanta
