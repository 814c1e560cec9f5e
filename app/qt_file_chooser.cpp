#include "app/qt_file_chooser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStringList>

namespace orvanta {

QString QtFileChooser::ToQtNameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts.at(i).trimmed();
    const QString pattern = parts.at(i + 1).trimmed();
    if (description.isEmpty() && pattern.isEmpty()) break;  // the closing "||"
    QString patterns = pattern;
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    if (description.contains(QLatin1Char('('))) {
      filters << description;
    } else {
      filters << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
  }
  return filters.join(QStringLiteral(";;"));
}

std::optional<std::string> QtFileChooser::ChooseFileToOpen(const FileDialogOptions& options) {
  return Run(options, false);
}

std::optional<std::string> QtFileChooser::ChooseFileToSave(const FileDialogOptions& options) {
  return Run(options, true);
}

std::optional<std::string> QtFileChooser::ChooseFolder(const std::string& title,
                                                       const std::string& start) {
  const QString folder = QFileDialog::getExistingDirectory(owner_, QString::fromStdString(title),
                                                           QString::fromStdString(start));
  if (folder.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(folder).toStdString();
}

std::optional<std::string> QtFileChooser::Run(const FileDialogOptions& options, bool save) {
  QFileDialog dialog(owner_.data(), QString::fromStdString(options.title));
  dialog.setObjectName(save ? QStringLiteral("saveFileDialog") : QStringLiteral("openFileDialog"));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QString nameFilters = ToQtNameFilters(options.filter);
  if (!nameFilters.isEmpty()) dialog.setNameFilter(nameFilters);
  if (!options.defaultExtension.empty()) {
    dialog.setDefaultSuffix(QString::fromStdString(options.defaultExtension));
  }
  // A wildcard name is already what the filter shows; only a real name is
  // offered in the name field.
  const QString initial = QString::fromStdString(options.initialName);
  if (!initial.isEmpty() && !initial.contains(QLatin1Char('*')) &&
      !initial.contains(QLatin1Char('?'))) {
    dialog.selectFile(initial);
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  // Qt's dialogs answer with '/' on Windows too; the log and the setup files
  // show the user's own separators ("C:\data\setup.cfg").
  const QByteArray path = QFile::encodeName(QDir::toNativeSeparators(files.first()));
  return std::string(path.constData(), static_cast<size_t>(path.size()));
}

}  // namespace orvanta
