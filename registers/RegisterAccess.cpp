#include "registers/RegisterAccess.h"

#include <algorithm>
#include <vector>

#include "adapter/frmUSB.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "foundation/Utils.h"

namespace {
// Counts the accesses in progress for Busy(); a failure message keeps the event loop running
// inside one.
struct Counting {
  explicit Counting(int& depth) : d(depth) { ++d; }
  ~Counting() { --d; }
  Counting(const Counting&) = delete;
  Counting& operator=(const Counting&) = delete;
  int& d;
};

std::string FailureText(const char* verb, const std::string& sRegName, uint8_t nRegAddr,
                        int32_t status) {
  return std::string(verb) + sRegName + "(0x" + Text::Hex(nRegAddr) + ")." + kNewLine +
         "Error description : " + TranslateErrorCode(status);
}
}  // namespace

std::string ReadFailureText(const std::string& sRegName, uint8_t nRegAddr, int32_t status) {
  return FailureText("Error reading register ", sRegName, nRegAddr, status);
}

std::string WriteFailureText(const std::string& sRegName, uint8_t nRegAddr, int32_t status) {
  return FailureText("Error Writing register ", sRegName, nRegAddr, status);
}

RegisterAccess::RegisterAccess(frmUSB& link, Settings::CommSettings comm, MessageSink* messages)
    : link_(&link), comm_(comm), ownMessages_(true), messages_(messages) {}

frmUSB& RegisterAccess::Link() const { return link_ != nullptr ? *link_ : frmUSB::Get(); }

Settings::CommSettings RegisterAccess::Comm() const {
  return comm_ ? *comm_ : Settings::CurrentCommSettings();
}

void RegisterAccess::ShowMessage(const std::string& text) const {
  if (!ownMessages_) {
    MsgBox(text);
  } else if (messages_ != nullptr) {
    messages_->ShowMessage(text);
  }
}

bool RegisterAccess::Confirm(const std::string& text) const {
  if (!ownMessages_) return MsgBoxConfirm(text);
  return messages_ == nullptr || messages_->Confirm(text);
}

int32_t RegisterAccess::ReadRegister(const std::string& sRegName, uint8_t nRegAddr,
                                     int16_t& nResult, int16_t nTargetAddr) {
  const Counting busy(depth_);
  const Settings::CommSettings comm = Comm();
  const int32_t retries = comm.readRetryCount;
  int32_t code = 0;
  // Stays zero on the I2C path while attempts fail: the link copies bytes only on success.
  std::vector<uint8_t> buffer(2, 0);
  frmUSB& link = Link();
  for (int32_t attempt = 0; attempt <= retries; ++attempt) {
    if (comm.i2cMode) {
      code = link.I2CReadBlock_(nRegAddr, 2, buffer, nTargetAddr);
      Utils::BytesToInt(buffer[1], buffer[0], nResult);
    } else {
      code = link.ReadSMBusWord_(nRegAddr, nResult, nTargetAddr);
    }
    if (code == 0) break;
  }
  if (!observers_.empty()) {
    Notify(recording::AccessKind::kRead, nRegAddr, static_cast<uint16_t>(nResult), code,
           nTargetAddr);
  }
  if (code != 0) ShowMessage(ReadFailureText(sRegName, nRegAddr, code));
  return code;
}

int32_t RegisterAccess::WriteRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t nWord,
                                      int16_t nTargetAddr) {
  const Counting busy(depth_);
  int32_t code = 0;
  if (Comm().i2cMode) {
    std::vector<uint8_t> buffer(2, 0);  // low byte first on the bus, as an SMBus word
    Utils::IntToBytes(nWord, buffer[1], buffer[0]);
    code = Link().I2CWriteBlock(nRegAddr, 2, buffer, nTargetAddr);
  } else {
    code = Link().WriteSMBusWord_(nRegAddr, nWord, nTargetAddr);
  }
  if (!observers_.empty()) {
    Notify(recording::AccessKind::kWrite, nRegAddr, static_cast<uint16_t>(nWord), code,
           nTargetAddr);
  }
  if (code != 0) ShowMessage(WriteFailureText(sRegName, nRegAddr, code));
  return code;
}

int16_t RegisterAccess::UIntToInt(int32_t nLong) { return Utils::UIntToInt(nLong); }

// --- observation ---

RegisterAccess::SourceScope::SourceScope(RegisterAccess& access, recording::AccessSource source,
                                         bool batch)
    : access_(access), named_(!access.hasSource_), batch_(batch) {
  if (named_) {
    access_.hasSource_ = true;
    access_.source_ = source;
  }
  if (batch_) ++access_.batchDepth_;
}

RegisterAccess::SourceScope::~SourceScope() {
  if (batch_ && --access_.batchDepth_ == 0) access_.FlushObservers();
  if (named_) access_.hasSource_ = false;
}

void RegisterAccess::AddObserver(recording::RegisterObserver& observer) {
  observers_.push_back(&observer);
}

void RegisterAccess::RemoveObserver(recording::RegisterObserver& observer) {
  const auto it = std::find(observers_.begin(), observers_.end(), &observer);
  if (it == observers_.end()) return;
  if (notifying_ > 0) {
    *it = nullptr;  // compacted once the notification is over
    removedWhileNotifying_ = true;
  } else {
    observers_.erase(it);
  }
}

void RegisterAccess::Notify(recording::AccessKind kind, uint8_t address, uint16_t value,
                            int32_t status, int16_t target) {
  using recording::AccessKind;
  using recording::AccessSource;
  const AccessSource source = hasSource_                  ? source_
                              : kind == AccessKind::kRead ? AccessSource::kSingleRead
                                                          : AccessSource::kWrite;
  const recording::RegisterEvent event{clock_->Now(), source, kind, address, value, status, target};
  ++notifying_;
  // Indexed: an observer may add or remove observers while it is told.
  for (std::size_t i = 0; i < observers_.size(); ++i) {
    if (observers_[i] != nullptr) observers_[i]->OnRegisterAccess(event);
  }
  --notifying_;
  // A failure message may keep the user busy for a while: what is known goes to disk first.
  if (batchDepth_ == 0 || status != 0) FlushObservers();
}

void RegisterAccess::NotifyInstrumentReading(const recording::InstrumentReading& reading) {
  ++notifying_;
  for (std::size_t i = 0; i < observers_.size(); ++i) {
    if (observers_[i] != nullptr) observers_[i]->OnInstrumentReading(reading);
  }
  --notifying_;
  if (batchDepth_ == 0) FlushObservers();
}

void RegisterAccess::FlushObservers() {
  ++notifying_;
  for (std::size_t i = 0; i < observers_.size(); ++i) {
    if (observers_[i] != nullptr) observers_[i]->OnFlush();
  }
  --notifying_;
  if (notifying_ == 0 && removedWhileNotifying_) {
    std::erase(observers_, nullptr);
    removedWhileNotifying_ = false;
  }
}
