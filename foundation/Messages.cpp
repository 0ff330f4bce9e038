#include "foundation/Messages.h"

namespace {
MessageSink* g_sink = nullptr;
}

void SetMessageSink(MessageSink* sink) { g_sink = sink; }

MessageSink* CurrentMessageSink() { return g_sink; }

void MsgBox(const std::string& text) {
  if (g_sink) g_sink->ShowMessage(text);
}

// With nobody to ask, the operation goes on, as it does after an OK-only box.
bool MsgBoxConfirm(const std::string& text) { return g_sink ? g_sink->Confirm(text) : true; }
