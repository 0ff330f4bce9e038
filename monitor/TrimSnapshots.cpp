#include "monitor/TrimSnapshots.h"

#include "monitor/FileDialogs.h"
#include "monitor/frmCompare.h"
#include "panels/frmTrim.h"
#include "recording/OutputFile.h"
#include "recording/Snapshot.h"
#include "registers/RegisterAccess.h"
#include "shell/CommandLine.h"
#include "shell/Messages.h"
#include "shell/Settings.h"
#include "views/ctlTrimRegister.h"

namespace monitor {

namespace {

const QStringList kFilters = {QStringLiteral("Snapshot (*.ini)"), QStringLiteral("All files (*)")};

// Reads the chip as Read All does and shows the values in the rows.
recording::Snapshot ReadChip(frmTrim& window, RegisterAccess& access) {
  const recording::Variant variant = CommandLine::IsRk5191(CommandLine::ArgumentString())
                                         ? recording::Variant::rk5191
                                         : recording::Variant::rk5190;
  recording::Snapshot s =
      recording::ReadSnapshot(access, modGlobals::DeviceAddress, "", variant, access.Clock());
  for (int i = 0; i < frmTrim::kRows; ++i) {
    ctlTrimRegister* view = window.ctlTrimReg(i);
    const std::optional<uint16_t> v = s.Value(frmTrim::AddressFromTag(view->Tag()));
    view->SetValue(v ? std::optional<int32_t>(*v) : std::nullopt);
  }
  return s;
}

}  // namespace

void SaveSnapshot(frmTrim& window, RegisterAccess& access) {
  FileRequest request;
  request.caption = QStringLiteral("Save Snapshot");
  request.suggested = SuggestedPath(QStringLiteral("korvo-snapshot"), QStringLiteral("ini"),
                                    access.Clock().WallNow());
  request.filters = kFilters;
  const std::optional<QString> path = AskForFile(&window, request);
  if (!path) return;
  const recording::Snapshot s = ReadChip(window, access);
  const std::string file = path->toStdString();
  if (!s.Complete()) {
    MsgBox("Snapshot not saved to " + file + ": not every register could be read.");
    return;
  }
  std::string reason;
  if (!recording::WriteWholeFile(file, recording::FormatSnapshot(s), reason))
    MsgBox("Cannot write " + file + ": " + reason + ".");
}

void CompareWithSnapshot(frmTrim& window, RegisterAccess& access) {
  FileRequest request;
  request.mode = FileRequest::Mode::kOpen;
  request.caption = QStringLiteral("Compare with Snapshot");
  request.filters = kFilters;
  const std::optional<QString> path = AskForFile(&window, request);
  if (!path) return;
  std::string message;
  const std::optional<recording::Snapshot> reference =
      recording::LoadSnapshot(path->toStdString(), message);
  if (!reference) {
    MsgBox(message);
    return;
  }
  const recording::Snapshot chip = ReadChip(window, access);
  auto* compare = window.findChild<frmCompare*>(QString(), Qt::FindDirectChildrenOnly);
  if (!compare) compare = new frmCompare(&window);
  compare->Show(*path, recording::CompareSnapshots(*reference, chip));
}

}  // namespace monitor
