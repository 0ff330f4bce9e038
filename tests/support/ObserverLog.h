// Observers for tests: they write down what they are told, one short line per event.
#pragma once

#include <string>
#include <vector>

#include "adapter/ErrorCodes.h"
#include "observation/Observation.h"
#include "foundation/Text.h"

// "single read read 15 41A0 0", then "flush" when told to flush.
class RegisterLog : public recording::RegisterObserver {
 public:
  void OnRegisterAccess(const recording::RegisterEvent& e) override {
    events.push_back(e);
    lines.push_back(std::string(recording::SourceName(e.source)) + " " +
                    std::string(recording::KindName(e.kind)) + " " + Text::Hex(e.address) + " " +
                    (e.status == 0 || e.kind == recording::AccessKind::kWrite ? Text::Hex(e.value)
                                                                              : std::string("-")) +
                    " " + std::to_string(e.status));
  }
  void OnInstrumentReading(const recording::InstrumentReading& r) override {
    lines.push_back("measure " + std::string(r.caption));
  }
  void OnFlush() override { lines.push_back("flush"); }

  std::vector<recording::RegisterEvent> events;
  std::vector<std::string> lines;
};

// "WriteSMBusWord_(15,41A0) 103 0"
class TransactionLog : public recording::TransactionObserver {
 public:
  void OnTransaction(const recording::TransactionEvent& e) override {
    events.push_back(e);
    lines.push_back(std::string(e.operation) + "(" + std::string(e.detail) + ") " +
                    std::to_string(e.target) + " " + std::to_string(e.status));
  }
  std::vector<recording::TransactionEvent> events;
  std::vector<std::string> lines;
};
