#include "shell/GuiMessageSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>

#include "foundation/Utils.h"

void GuiMessageSink::ShowMessage(const std::string& text) {
  // The core joins lines with CR LF; a lone CR would show as a stray glyph.
  QString shown = QString::fromStdString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), shown, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

Utils::EventPump QtEventPump() {
  return [](std::chrono::steady_clock::time_point deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    const auto now = std::chrono::steady_clock::now();
    if (deadline <= now) return;
    // Rounded up, so the wake-up is never early and the caller's loop never spins.
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(static_cast<int>(remaining.count()));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  };
}

void InstallQtEventPump() { Utils::SetEventPump(QtEventPump()); }
