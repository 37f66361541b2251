#pragma once
// The Windows event log for --eventlog: events in the Application log under the source
// "Anti-Lauschkobold" through ReportEventW, and the source's registration for
// --register-eventlog.
//
// Writing needs no registration and no administrator rights: without a registered source the
// log keeps the events and their strings and only the viewer lacks the message text.
// Registration writes one key below HKLM (EventMessageFile: this program, whose message table
// lkscan_events.mc is compiled into it) and is done only when asked for.

#include <memory>
#include <string>

#include "tools/lkscan/EventLogReport.h"

namespace lk {

inline constexpr wchar_t kEventSourceName[] = L"Anti-Lauschkobold";

// Null with a message in *error when the event log cannot be opened.
[[nodiscard]] std::unique_ptr<EventSink> OpenWindowsEventLog(std::string* error);

// Registers the source in the Application log with this program as its message file.
[[nodiscard]] bool RegisterWindowsEventSource(std::string* error);

}  // namespace lk
