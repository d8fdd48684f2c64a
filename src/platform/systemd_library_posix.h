// libsystemd, loaded the first time the journal, the system bus or logind is
// needed rather than linked: most runs use none of them, and it brings its
// compression and crypto libraries along.
#pragma once

// Entries carry our own fields, not a source file's path and line.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-bus.h>
#include <systemd/sd-journal.h>
#include <systemd/sd-login.h>

namespace qov::platform {

// The runtime name of the libsystemd the headers describe.
inline constexpr const char* kSystemdSoname = "libsystemd.so.0";

// The libsystemd functions the daemon calls.
struct SystemdFunctions {
  decltype(&::sd_journal_sendv) journal_sendv = nullptr;
  decltype(&::sd_bus_open_system) bus_open_system = nullptr;
  decltype(&::sd_bus_get_property_string) bus_get_property_string = nullptr;
  decltype(&::sd_bus_error_free) bus_error_free = nullptr;
  decltype(&::sd_bus_flush_close_unref) bus_flush_close_unref = nullptr;
  decltype(&::sd_seat_get_active) seat_get_active = nullptr;
  decltype(&::sd_session_get_class) session_get_class = nullptr;
  decltype(&::sd_session_get_type) session_get_type = nullptr;
  decltype(&::sd_session_get_display) session_get_display = nullptr;
  decltype(&::sd_pid_get_session) pid_get_session = nullptr;
};

// The process's libsystemd, loaded by the first caller and never unloaded;
// null when it cannot be loaded (its users then act as without systemd).
const SystemdFunctions* Systemd();

}  // namespace qov::platform
