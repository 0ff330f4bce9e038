// korvoctl's instruments: the operation "instruments", the options --instrument ENTRY
// (repeatable; replaces the settings file's [Instruments] list), --instrument-period MS and
// --instrument-log LEVEL, and the instruments' part of watch and dump. The instruments are read
// on threads of their own; a watch tick or a dump never waits on one beyond its own deadline.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/KorvoctlRecording.h"
#include "instruments/Bench.h"
#include "instruments/InstrumentConfig.h"
#include "observation/Clock.h"

class KorvoctlInstruments : public WatchCompanion {
 public:
  KorvoctlInstruments();
  ~KorvoctlInstruments() override;
  KorvoctlInstruments(KorvoctlInstruments&&) noexcept;
  KorvoctlInstruments& operator=(KorvoctlInstruments&&) noexcept;

  using Taken = KorvoctlRecording::Taken;
  Taken Take(const std::vector<std::string>& args, std::size_t& i);

  // Whether the run uses the instruments: set by the caller for watch and dump --format
  // csv|json; the operation "instruments" sets it itself.
  void SetUsed() { used_ = true; }

  // Before the adapter opens, when the run uses instruments: the list from --instrument or the
  // settings file, each checked against libsigrok's drivers and their scan options. A bad one
  // is named ("korvoctl: invalid instrument ...") and the run ends with kExitUsage before
  // anything opens. Then the instruments start opening, each on its own thread.
  int Prepare(std::ostream& err, recording::Clock& clock, const std::string& settingsFile);

  // The labels of the instruments Prepare started, in order.
  std::vector<std::string> Labels() const;
  // Another observer of every reading delivered (the metrics), and who is told after each
  // delivery whether each instrument is present; both on this thread.
  void Follow(std::shared_ptr<recording::RegisterObserver> observer,
              std::function<void(const std::string& label, bool present)> presence);

  // The operation "instruments": what each instrument is and reads, like sigrok-cli --scan;
  // kExitBus when one is absent.
  int Run(std::ostream& out);

  // The instruments absent at some time of the run are named; the threads end.
  void Finish();

  void OnTickStart() override;
  void OnTickEnd(const std::vector<recording::RegisterObserver*>& observers) override;
  void OnWatchEnd(const std::vector<recording::RegisterObserver*>& observers) override;
  void AppendDump(std::string& text, bool json) override;
  // The channels of the instruments open within kWaitMs, in instrument and channel order; an
  // instrument that opens later has its readings in a CSV but not in a VCD (its header is
  // written before the first reading).
  std::vector<recording::RecordedChannel> RecordedChannels() override;
  // "; Instrument PSU CH1 current: 1792.9 mA" per present reading, "; Instrument Load: absent
  // (reason)" per absent instrument; no '=' in them, so a snapshot reader skips them.
  std::string SnapshotComments() override;

  // How long an instrument may take to open, or to give one reading, when korvoctl waits for it
  // (the operation "instruments" and dump).
  static constexpr int64_t kWaitMs = 5000;

 private:
  std::vector<std::string> entries_;  // --instrument, in order
  std::optional<int64_t> periodMs_;
  int logLevel_ = 0;
  bool used_ = false;
  bool scan_ = false;  // the operation "instruments" was given
  std::vector<instruments::InstrumentConfig> configs_;
  std::unique_ptr<instruments::Bench> bench_;
  std::shared_ptr<recording::RegisterObserver> follower_;
  std::function<void(const std::string&, bool)> presence_;

  void Deliver(const std::vector<recording::RegisterObserver*>& observers);
};

std::string KorvoctlInstrumentsUsage();
std::string KorvoctlInstrumentsOptionsUsage();
