#include "platform/systemd_library_posix.h"

#include "platform/dynamic_library_posix.h"

namespace qov::platform {
namespace {

const SystemdFunctions* Load() {
  LibraryHandle library = OpenLibrary(kSystemdSoname);
  if (!library) return nullptr;
  void* l = library.get();
  SystemdFunctions f;
  const bool resolved = ResolveSymbol(l, "sd_journal_sendv", f.journal_sendv) &&
                        ResolveSymbol(l, "sd_bus_open_system", f.bus_open_system) &&
                        ResolveSymbol(l, "sd_bus_get_property_string", f.bus_get_property_string) &&
                        ResolveSymbol(l, "sd_bus_error_free", f.bus_error_free) &&
                        ResolveSymbol(l, "sd_bus_flush_close_unref", f.bus_flush_close_unref) &&
                        ResolveSymbol(l, "sd_seat_get_active", f.seat_get_active) &&
                        ResolveSymbol(l, "sd_session_get_class", f.session_get_class) &&
                        ResolveSymbol(l, "sd_session_get_type", f.session_get_type) &&
                        ResolveSymbol(l, "sd_session_get_display", f.session_get_display) &&
                        ResolveSymbol(l, "sd_pid_get_session", f.pid_get_session);
  if (!resolved) return nullptr;
  (void)library.release();  // a journal write or a bus call may be under way while the process ends
  return new SystemdFunctions(f);
}

}  // namespace

const SystemdFunctions* Systemd() {
  static const SystemdFunctions* const loaded = Load();  // the static's guard: one load
  return loaded;
}

}  // namespace qov::platform
