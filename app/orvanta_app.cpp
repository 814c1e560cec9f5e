#include "app/orvanta_app.h"

#include <QApplication>

#include "app/app_folders.h"
#include "app/orvanta_dlg.h"
#include "client/socket_layer.h"
#include "platform/paths.h"

namespace orvanta {

OrvantaApp::OrvantaApp(ProgramCore& core, ServerLink& server, const WindowSeams& seams)
    : core_(core), server_(server), seams_(seams), socketStartup_(&net::Startup) {}

bool OrvantaApp::InitInstance() {
  // The framework's own initialisation is the QApplication, which has read
  // its own options (-platform and the like); the program reads no others.
  if (QCoreApplication::instance() == nullptr) return false;

  if (socketStartup_() != 0) {
    seams_.boxes.Show("Windows sockets initialization failed.", kDefaultBoxCaption, BoxIcon::kError,
                      BoxButtons::kOk);
    return false;
  }

  // Where settings are kept (the session records folder): under Orvanta's
  // own name, organisation and application alike.
  QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
  QCoreApplication::setApplicationName(QStringLiteral("Orvanta"));

  // The working directory at start, not the program's own folder (on Windows
  // Documents\Orvanta when the working directory cannot be written).
  core_.applicationDirectory() = UsableApplicationDirectory(CurrentDirectoryWithSeparator());

  {
    OrvantaDlg window(core_, seams_.files, server_);
    seams_.mainWindow.Register(&window);
    window.SetSessionRecords(records_);
    if (windowCreated_) windowCreated_(window);
    window.exec();
    // The window unregisters itself as it goes.
  }
  return false;
}

ProgramObjects::ProgramObjects(const WindowSeams& windowSeams)
    : seams(windowSeams),
      core(seams),
      server(core.client()),
      records(core.trials(), core.deck(), core.config(), core.log(), seams.clock, seams.shell,
              core.applicationDirectory()),
      app(core, server, seams) {
  app.SetSessionRecords(&records);
  records.SetClient(&core.client());
}

ProgramObjects::~ProgramObjects() { core.StopRun(); }

}  // namespace orvanta
