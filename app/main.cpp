// orvanta: the window program.
#include <QApplication>

#include "app/orvanta_app.h"
#include "app/orvanta_dlg.h"
#include "app/qt_file_chooser.h"
#include "app/qt_message_boxes.h"
#include "app/qt_shell_opener.h"
#include "platform/version.h"

int main(int argc, char** argv) {
  // Qt takes its own options (-platform, -style, ...); the program has none.
  QApplication application(argc, argv);
  QApplication::setApplicationVersion(QStringLiteral(ORVANTA_VERSION));
  // Ties the window to the installed desktop entry (orvanta.desktop), so that
  // the desktop shows the entry's name and icon for it.
  QGuiApplication::setDesktopFileName(QStringLiteral("orvanta"));

  orvanta::SystemClock clock;
  orvanta::QtMessageBoxes boxes;
  orvanta::MainWindowRef mainWindow;
  // View Log File: the desktop's opener, without holding up the window.
  orvanta::QtShellOpener shell;
  orvanta::QtFileChooser files;
  {
    orvanta::ProgramObjects objects({{clock, boxes, mainWindow, shell}, files});
    objects.app.SetWindowCreatedHook([&](orvanta::OrvantaDlg& window) {
      boxes.SetOwner(&window);
      files.SetOwner(&window);
    });
    objects.app.InitInstance();
    // Nobody may wait for a box any more once the window is gone.
    boxes.Close();
  }
  return 0;
}
