// The one way the monitor's windows ask the user for a file name. The program shows Qt's file
// dialog; tests install their own answers, as they do for messages (shell/Messages.h): a file
// dialog is modal like a message box, so it goes through a seam of the same kind.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "observation/Clock.h"

class QWidget;

namespace monitor {

// A list shown under the file name (a recording's VCD time step). The dialog sets selected to
// the user's pick when the user accepts.
struct FileChoice {
  QString label;
  QStringList items;
  int selected = 0;
};

struct FileRequest {
  enum class Mode { kSave, kOpen };
  Mode mode = Mode::kSave;
  QString caption;
  QString suggested;    // full path proposed to the user
  QStringList filters;  // "CSV (*.csv)"; the first is selected, its suffix added to bare names
  std::shared_ptr<FileChoice> choice;  // nullptr: none
};

class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  // The chosen path, or nullopt when the user cancelled.
  virtual std::optional<QString> Ask(QWidget* parent, const FileRequest& request) = 0;
};

// Not owned. nullptr puts Qt's file dialog back.
void SetFileDialogs(FileDialogs* dialogs);
FileDialogs& CurrentFileDialogs();

class ScopedFileDialogs {
 public:
  explicit ScopedFileDialogs(FileDialogs* dialogs);
  ~ScopedFileDialogs();
  ScopedFileDialogs(const ScopedFileDialogs&) = delete;
  ScopedFileDialogs& operator=(const ScopedFileDialogs&) = delete;

 private:
  FileDialogs* previous_;
};

inline std::optional<QString> AskForFile(QWidget* parent, const FileRequest& request) {
  return CurrentFileDialogs().Ask(parent, request);
}

// "<documents>/<prefix>-YYYYMMDD-HHMMSS.<suffix>" at the given wall time (local time); the
// home folder when the system names no documents folder.
QString SuggestedPath(const QString& prefix, const QString& suffix, recording::WallTime when);

}  // namespace monitor
