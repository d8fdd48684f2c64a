// The fields of one event as the systemd journal stores it: the text, its
// priority, a fixed MESSAGE_ID per event ID (journalctl MESSAGE_ID=... finds
// every instance) and the event ID itself in QOV_EVENT_ID.
#pragma once

#include <string>
#include <vector>

#include "platform/service_control.h"

namespace qov::platform {

// "NAME=value" strings, MESSAGE first.
std::vector<std::string> JournalFields(const EventRecord& event, const std::string& identifier);

// The 128-bit journal message ID of an event ID, as 32 lowercase hex digits.
std::string JournalMessageId(std::uint32_t event_id);

}  // namespace qov::platform
