// The window program's folders on Windows: the working directory when it can
// be written, else Documents\Orvanta; the settings in an INI file beside the
// log, never in the registry.
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryFile>

#include "app/app_folders.h"

namespace orvanta {

namespace {

QString FromLocal(const std::string& path) { return QString::fromLocal8Bit(path); }

std::string ToLocal(const QString& path) {
  const QByteArray bytes = QFile::encodeName(QDir::toNativeSeparators(path));
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// A file can be made in `folder` (and is removed again).
bool CanWriteIn(const QString& folder) {
  if (folder.isEmpty() || !QDir(folder).exists()) return false;
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("orvanta-write-test-XXXXXX.tmp")));
  return probe.open();
}

}  // namespace

std::string UsableApplicationDirectory(const std::string& workingDirectory,
                                       const std::string& documentsFolder) {
  if (CanWriteIn(FromLocal(workingDirectory)) || documentsFolder.empty()) return workingDirectory;
  const QString own = QDir(FromLocal(documentsFolder)).filePath(QStringLiteral("Orvanta"));
  if (!QDir().mkpath(own) || !CanWriteIn(own)) return workingDirectory;
  return ToLocal(own) + '\\';
}

std::string UsableApplicationDirectory(const std::string& workingDirectory) {
  return UsableApplicationDirectory(
      workingDirectory,
      ToLocal(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
}

std::unique_ptr<QSettings> OpenWindowSettings(const std::string& applicationDirectory) {
  const QString file = FromLocal(applicationDirectory) + QStringLiteral("Orvanta.ini");
  return std::make_unique<QSettings>(file, QSettings::IniFormat);
}

}  // namespace orvanta
