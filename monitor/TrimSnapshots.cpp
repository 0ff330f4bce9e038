#include "monitor/TrimSnapshots.h"

#include "monitor/FileDialogs.h"
#include "monitor/frmCompare.h"
#include "recording/OutputFile.h"
#include "recording/Snapshot.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterTable.h"
#include "foundation/CommandLine.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "views/ctlTrimRegister.h"

namespace monitor {

namespace {

const QStringList kFilters = {QStringLiteral("Snapshot (*.ini)"), QStringLiteral("All files (*)")};

// Reads the chip as Read All does and shows the values in the rows.
recording::Snapshot ReadChip(std::span<ctlTrimRegister* const> rows, RegisterAccess& access) {
  const recording::Variant variant = CommandLine::IsRk5191(CommandLine::ArgumentString())
                                         ? recording::Variant::rk5191
                                         : recording::Variant::rk5190;
  recording::Snapshot s =
      recording::ReadSnapshot(access, modGlobals::DeviceAddress, "", variant, access.Clock());
  for (ctlTrimRegister* view : rows) {
    const std::optional<uint16_t> v =
        s.Value(RegisterTable::AddressFromTag(view->Tag().toStdString()));
    view->SetValue(v ? std::optional<int32_t>(*v) : std::nullopt);
  }
  return s;
}

}  // namespace

void SaveSnapshot(QWidget& owner, std::span<ctlTrimRegister* const> rows, RegisterAccess& access) {
  FileRequest request;
  request.caption = QStringLiteral("Save Snapshot");
  request.suggested = SuggestedPath(QStringLiteral("korvo-snapshot"), QStringLiteral("ini"),
                                    access.Clock().WallNow());
  request.filters = kFilters;
  const std::optional<QString> path = AskForFile(&owner, request);
  if (!path) return;
  const recording::Snapshot s = ReadChip(rows, access);
  const std::string file = path->toStdString();
  if (!s.Complete()) {
    MsgBox("Snapshot not saved to " + file + ": not every register could be read.");
    return;
  }
  std::string reason;
  if (!recording::WriteWholeFile(file, recording::FormatSnapshot(s), reason))
    MsgBox("Cannot write " + file + ": " + reason + ".");
}

void CompareWithSnapshot(QWidget& owner, std::span<ctlTrimRegister* const> rows,
                         RegisterAccess& access) {
  FileRequest request;
  request.mode = FileRequest::Mode::kOpen;
  request.caption = QStringLiteral("Compare with Snapshot");
  request.filters = kFilters;
  const std::optional<QString> path = AskForFile(&owner, request);
  if (!path) return;
  std::string message;
  const std::optional<recording::Snapshot> reference =
      recording::LoadSnapshot(path->toStdString(), message);
  if (!reference) {
    MsgBox(message);
    return;
  }
  const recording::Snapshot chip = ReadChip(rows, access);
  auto* compare = owner.findChild<frmCompare*>(QString(), Qt::FindDirectChildrenOnly);
  if (!compare) compare = new frmCompare(&owner);
  compare->Show(*path, recording::CompareSnapshots(*reference, chip));
}

}  // namespace monitor
