// The panel's register commands: reads, writes, Write All and the DAC entries.
#include <QLabel>
#include <QLineEdit>

#include "panels/MainPanel.h"
#include "registers/RegisterTable.h"
#include "foundation/Messages.h"
#include "foundation/ScopedVerifyWriteOff.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "foundation/Utils.h"
#include "views/BitBoxes.h"
#include "views/ctlCtrlRegister.h"
#include "views/ctlDACRegister.h"
#include "views/ctlStatRegister.h"

namespace {

constexpr int32_t kWhite = 0xFFFFFF;
constexpr int32_t kOutOfRange = 0x2020FF;

// The register a view's Tag names.
template <class View>
uint8_t AddressOf(const View* view) {
  return RegisterTable::AddressFromTag(view->Tag().toStdString());
}

double NumericValue(const QString& text) {
  const std::string s = text.toStdString();
  if (const auto v = Utils::ParseDecimal(s)) return *v;
  return Utils::LeadingNumber(s);
}

// The word a DAC entry writes: rounded half to even and held to the register width.
uint16_t EntryWord(const QString& text) {
  double v = Utils::RoundHalfEven(NumericValue(text));
  if (!(v >= 0)) v = 0;
  if (v > 65535) v = 65535;
  return static_cast<uint16_t>(v);
}

}  // namespace

// --- register access ---

int32_t MainPanel::ReadRegister(uint8_t nRegAddr, int16_t& nResult) {
  const int32_t status = registers_.ReadRegister(RegisterAccess::kMainRegisterName, nRegAddr,
                                                 nResult, modGlobals::DeviceAddress);
  // A failed read has shown its message by now, and the user has closed it.
  if (status != 0 && inTick_) failureClosedAt_ = timer1_->NowMs();
  return status;
}

int32_t MainPanel::WriteRegister(uint8_t nRegAddr, int16_t nWord) {
  return registers_.WriteRegister(RegisterAccess::kMainRegisterName, nRegAddr, nWord,
                                  modGlobals::DeviceAddress);
}

// --- reads ---

void MainPanel::ReadInto(BitRegisterView* view) {
  int16_t value = 0;
  const bool ok = ReadRegister(AddressOf(view), value) == 0;
  // The entry ends with the complete value either way; the bits written on the way there
  // are never seen, so it follows once, and only when some box changed.
  writingView_ = view;
  followPending_ = false;
  view->SetValue(ok ? std::optional<int32_t>(value) : std::nullopt);
  writingView_ = nullptr;
  if (!followPending_) return;
  if (view == ctlCtrlRegister1) {
    RefreshControlHex();
    return;
  }
  for (const DacRow& row : dac_) {
    if (view == row.view) OnDACViewChange(row);
  }
}

void MainPanel::ReadStatusRegister() {
  int16_t value = 0;
  if (ReadRegister(AddressOf(ctlStatRegister1), value) == 0) {
    ctlStatRegister1->SetValue(value);
    lblStatRegisterHex->setText(QStringLiteral("Hex value = ") +
                                QString::fromStdString(Text::Hex(static_cast<uint16_t>(value), 4)));
  } else {
    ctlStatRegister1->SetValue(std::nullopt);
    lblStatRegisterHex->setText(QString());
  }
}

void MainPanel::ReadControlRegister() { ReadInto(ctlCtrlRegister1); }
void MainPanel::ReadVoltDAC() { ReadInto(dac_[kVolt].view); }
void MainPanel::ReadIpCurrDAC() { ReadInto(dac_[kIpCurr].view); }
void MainPanel::ReadCurrDAC() { ReadInto(dac_[kCurr].view); }

void MainPanel::ReadAllRegisters() {
  ReadStatusRegister();
  ReadControlRegister();
  ReadVoltDAC();
  ReadIpCurrDAC();
  ReadCurrDAC();
}

void MainPanel::RefreshControlHex() {
  if (writingView_ == ctlCtrlRegister1) {
    followPending_ = true;
    return;
  }
  const std::optional<int32_t> v = ctlCtrlRegister1->Value();
  txtCtrlRegisterHex->setText(v ? QString::fromStdString(Text::Hex(static_cast<uint16_t>(*v), 4))
                                : QString());
}

// --- writes ---

void MainPanel::WriteControlRegister() {
  const QString text = txtCtrlRegisterHex->text();
  std::string digits = text.toStdString();
  int significant = 0;
  // Write All sends the entry as it stands, so text that is not a hexadecimal number (or
  // too long for 32 bits) is refused here rather than written as something else.
  const bool hex = Utils::IsHexString(digits) && !digits.empty();
  const uint32_t value = hex ? Utils::LenientHexValue(digits, &significant) : 0;
  if (text.isEmpty() || !hex || significant > 8) {
    MsgBox(std::string(RegisterTable::Find(AddressOf(ctlCtrlRegister1))->emptyEntryText));
    return;
  }
  const int16_t word = RegisterAccess::UIntToInt(static_cast<int32_t>(value));
  if (WriteRegister(AddressOf(ctlCtrlRegister1), word) == 0 && modGlobals::VerifyWrite) {
    const RegisterAccess::SourceScope tag(registers_, recording::AccessSource::kVerifyReadBack);
    ReadControlRegister();
  }
}

void MainPanel::WriteDAC(const DacRow& row) {
  const QString text = row.entry->text().trimmed();
  if (text.isEmpty()) {
    MsgBox(std::string(RegisterTable::Find(row.address)->emptyEntryText));
    return;
  }
  // The filter keeps the entry in range; a value pasted past it is held to the register width.
  const int16_t word = RegisterAccess::UIntToInt(EntryWord(text));
  if (WriteRegister(AddressOf(row.view), word) == 0 && modGlobals::VerifyWrite) {
    const RegisterAccess::SourceScope tag(registers_, recording::AccessSource::kVerifyReadBack);
    ReadInto(row.view);
  }
}

void MainPanel::WriteVoltDAC() { WriteDAC(dac_[kVolt]); }
void MainPanel::WriteCurrDAC() { WriteDAC(dac_[kCurr]); }
void MainPanel::WriteIpCurrDAC() { WriteDAC(dac_[kIpCurr]); }

void MainPanel::WriteAllRegisters() {
  const ScopedVerifyWriteOff verifyOff;
  WriteControlRegister();
  WriteVoltDAC();
  WriteCurrDAC();
  WriteIpCurrDAC();
  if (verifyOff.WasOn()) {
    const RegisterAccess::SourceScope tag(registers_, recording::AccessSource::kVerifyReadBack);
    ReadAllRegisters();
  }
}

// --- DAC entries ---

void MainPanel::AllowOnlyNumeric(QLineEdit* txt) {
  const QString text = txt->text();
  if (text.isEmpty()) return;
  const std::string s = text.toStdString();
  const std::optional<double> v = Utils::ParseDecimal(s);
  if (!v) {
    txt->setText(QString::number(Utils::LeadingNumber(s), 'g', 15));
    txt->setCursorPosition(static_cast<int>(txt->text().size()));
    return;
  }
  if (*v > 65535) {
    txt->setText(QStringLiteral("65535"));
  } else if (*v < 0) {
    txt->setText(QStringLiteral("0"));
  }
}

void MainPanel::OnDACEntryChange(const DacRow& row) {
  AllowOnlyNumeric(row.entry);
  const QString text = row.entry->text();
  const double v = text.isEmpty() ? 0.0 : NumericValue(text);
  const RegisterTable::Dac& dac = *RegisterTable::Find(row.address)->dac;
  PaintBase(row.entry, dac.Valid(v) ? kWhite : kOutOfRange);
  // The bits below the DAC's lowest are not the DAC's: a typed value keeps the step below.
  // A value read from the chip is what the register holds already and brings no note, so a
  // scan tick repaints the entry alone.
  QString note;
  const uint32_t step = dac.Resolution(), word = EntryWord(text);
  if (!entryFromChip_ && !text.trimmed().isEmpty() && word % step != 0) {
    const QString unit = QString::fromUtf8(dac.unit.data(), static_cast<qsizetype>(dac.unit.size()));
    note = QStringLiteral("writes %1 %2: %3 %2 steps").arg(word - word % step).arg(unit).arg(step);
  }
  QLabel* label = dacNotes_[static_cast<size_t>(&row - dac_.data())];
  if (label->text() != note) label->setText(note);
}

void MainPanel::OnDACViewChange(const DacRow& row) {
  if (writingView_ == row.view) {
    followPending_ = true;
    return;
  }
  const std::optional<int32_t> v = row.view->Value();
  entryFromChip_ = true;
  row.entry->setText(v ? QString::number(*v) : QString());
  entryFromChip_ = false;
}
