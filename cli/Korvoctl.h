// korvoctl: reads, writes and dumps charger registers from the command line, on the same core
// as the windows. Data goes to out, messages to err.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "observation/Clock.h"
#include "foundation/Messages.h"

// Exit codes, also listed by --help and in the README.
enum KorvoctlExit : int {
  kExitOk = 0,
  kExitUsage = 1,     // bad command line, unreadable --ini file, an output that clashes
  kExitBus = 2,       // the adapter could not be opened, or a register access failed
  kExitDeclined = 3,  // a confirmation was declined: the operation wrote nothing
  kExitDiffer = 4,    // compare: the registers differ from the snapshot
};

// args excludes the program name. in answers the confirmation prompts.
int RunKorvoctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                std::istream& in);
// The same on a clock of the caller's (watch's ticks, timestamps, the simulated board's time).
int RunKorvoctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                std::istream& in, recording::Clock& clock);

// Messages on a stream; confirmations asked as a y/N prompt, or answered by --yes.
class StreamMessageSink : public MessageSink {
 public:
  StreamMessageSink(std::ostream& err, std::istream& in, bool assumeYes)
      : err_(err), in_(in), assumeYes_(assumeYes) {}
  void ShowMessage(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  int shown() const { return shown_; }

 private:
  std::ostream& err_;
  std::istream& in_;
  bool assumeYes_;
  int shown_ = 0;
};

std::string KorvoctlUsage();
