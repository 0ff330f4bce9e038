#include "monitor/FileDialogs.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QStandardPaths>
#include <chrono>

namespace monitor {

namespace {

// "CSV (*.csv)" gives "csv"; a filter without a plain suffix gives "".
QString SuffixOf(const QString& filter) {
  static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
  const QRegularExpressionMatch m = pattern.match(filter);
  return m.hasMatch() ? m.captured(1) : QString();
}

class QtFileDialogs final : public FileDialogs {
 public:
  std::optional<QString> Ask(QWidget* parent, const FileRequest& request) override {
    QFileDialog dialog(parent, request.caption);
    QComboBox* choice = nullptr;
    if (request.choice) {
      // Qt's own dialog: a native one takes no widgets of ours.
      dialog.setOption(QFileDialog::DontUseNativeDialog);
      if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        choice = new QComboBox(&dialog);
        choice->setObjectName(QStringLiteral("fileChoice"));
        choice->addItems(request.choice->items);
        choice->setCurrentIndex(request.choice->selected);
        auto* label = new QLabel(request.choice->label, &dialog);
        label->setBuddy(choice);
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(choice, row, 1);
      }
    }
    const bool save = request.mode == FileRequest::Mode::kSave;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(request.filters);
    if (!request.filters.isEmpty()) dialog.setDefaultSuffix(SuffixOf(request.filters.first()));
    // A name typed without an extension gets the one of the filter shown.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& f) { dialog.setDefaultSuffix(SuffixOf(f)); });
    if (!request.suggested.isEmpty()) {
      const QFileInfo info(request.suggested);
      dialog.setDirectory(info.absolutePath());
      dialog.selectFile(info.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    if (choice) request.choice->selected = choice->currentIndex();
    return dialog.selectedFiles().first();
  }
};

QtFileDialogs g_qt;
FileDialogs* g_dialogs = nullptr;

}  // namespace

void SetFileDialogs(FileDialogs* dialogs) { g_dialogs = dialogs; }

FileDialogs& CurrentFileDialogs() { return g_dialogs ? *g_dialogs : g_qt; }

ScopedFileDialogs::ScopedFileDialogs(FileDialogs* dialogs) : previous_(g_dialogs) {
  g_dialogs = dialogs;
}

ScopedFileDialogs::~ScopedFileDialogs() { g_dialogs = previous_; }

QString SuggestedPath(const QString& prefix, const QString& suffix, recording::WallTime when) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms.count());
  return QDir(folder).filePath(prefix + local.toString(QStringLiteral("-yyyyMMdd-HHmmss.")) +
                               suffix);
}

}  // namespace monitor
