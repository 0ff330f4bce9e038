// The one way the core tells the user something. The GUI shows modal message boxes, korvoctl
// writes to stderr, tests record. The core itself never prints.
#pragma once

#include <string>

inline constexpr const char* kAppTitle = "rk5190 Korvo";

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // A modal message with an OK button only; returns when the user has dismissed it.
  virtual void ShowMessage(const std::string& text) = 0;
  // A message after which the operation goes on when the user agrees. The windows show it like
  // any other message (OK only, always true); korvoctl asks at the terminal.
  virtual bool Confirm(const std::string& text) {
    ShowMessage(text);
    return true;
  }
};

// Not owned. nullptr (the initial state) drops messages.
void SetMessageSink(MessageSink* sink);
MessageSink* CurrentMessageSink();

// Installs a sink for a scope and puts the previous one back at its end.
class ScopedMessageSink {
 public:
  explicit ScopedMessageSink(MessageSink* sink) : previous_(CurrentMessageSink()) {
    SetMessageSink(sink);
  }
  ~ScopedMessageSink() { SetMessageSink(previous_); }
  ScopedMessageSink(const ScopedMessageSink&) = delete;
  ScopedMessageSink& operator=(const ScopedMessageSink&) = delete;

 private:
  MessageSink* previous_;
};

void MsgBox(const std::string& text);
bool MsgBoxConfirm(const std::string& text);

// Lines of a multi-line message are joined with carriage return plus line feed.
inline constexpr const char* kNewLine = "\r\n";

// Shown when no adapter could be opened at start-up (the windows and korvoctl alike).
inline constexpr const char* kOpenFailureText =
    "Failed to initialize the Tarn88! This program cannot continue.\r\n"
    "Please make sure that the Tarn88 is connected and all required drivers are installed.\r\n"
    "Please ensure that no other program is using the Tarn88.\r\n"
    "Please close and restart the Korvo program.";
