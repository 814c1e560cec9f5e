// The window program's file dialogs: QFileDialog, owned by the main window.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "app/app_seams.h"

namespace orvanta {

class QtFileChooser : public FileChooser {
 public:
  QtFileChooser() = default;

  // The window that owns the dialogs; null for none. Held weakly.
  void SetOwner(QWidget* owner) { owner_ = owner; }

  std::optional<std::string> ChooseFileToOpen(const FileDialogOptions& options) override;
  std::optional<std::string> ChooseFileToSave(const FileDialogOptions& options) override;
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& start) override;

  // "Wav Files (*.wav)|*.wav||" -> "Wav Files (*.wav)". Each pair becomes one
  // Qt name filter; a description without its pattern in parentheses gets it
  // appended.
  static QString ToQtNameFilters(const std::string& filter);

 private:
  std::optional<std::string> Run(const FileDialogOptions& options, bool save);

  QPointer<QWidget> owner_;
};

}  // namespace orvanta
