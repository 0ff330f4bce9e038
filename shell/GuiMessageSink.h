// The windows' side of the message seam: every message is a modal box with an OK button only,
// no icon and the application title. Also the event pump that lets WaitSeconds keep the
// windows alive.
#pragma once

#include "foundation/Messages.h"
#include "foundation/Utils.h"

class GuiMessageSink : public MessageSink {
 public:
  void ShowMessage(const std::string& text) override;
};

// A pump that processes pending events and then sleeps in the event loop until the next event
// or the deadline, whichever comes first.
Utils::EventPump QtEventPump();
// Installs QtEventPump() for WaitSeconds.
void InstallQtEventPump();
