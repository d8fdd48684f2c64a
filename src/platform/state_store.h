// Values the service keeps across its runs (and across the computer resets
// that end them): a few named texts.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/registry.h"

namespace qov::platform {

class StateStore {
 public:
  virtual ~StateStore() = default;
  virtual std::optional<std::string> Get(const std::string& name) = 0;
  // True when the value is stored for good (on the disk, not only in a
  // cache); otherwise `why`, when given, says what failed.
  virtual bool Set(const std::string& name, const std::string& value, std::string* why) = 0;
  bool Set(const std::string& name, const std::string& value) { return Set(name, value, nullptr); }

  // The status record of the running service, kept beside the state but
  // rewritten every few seconds, so neither synced nor flushed: a reset may
  // lose it, and the run it told of has ended then. Replaced whole, never
  // seen half written. Nothing on success, else why not. By default the
  // value "Status" (stores kept in memory).
  virtual std::optional<std::string> PublishStatus(const std::string& text);
  // The record as last published; nothing when there is none.
  virtual std::optional<std::string> ReadStatus();
};

inline constexpr const char* kStatusValueName = "Status";

// The service's State key, "\Software\Vopa\QOV Lumo\State", in `registry`.
inline constexpr const char* kStateKey = "\\Software\\Vopa\\QOV Lumo\\State";
std::unique_ptr<StateStore> RegistryStateStore(Registry& registry);

// Where this system keeps the service's state: the State key on Windows,
// the file /var/lib/qov_lumo/state on Linux.
StateStore& SystemStateStore();
// The folder of the system's state file; empty on Windows (a registry key).
std::string SystemStateFolder();

#ifndef _WIN32
// The Linux form: the file "state" in `dir`, made when first written, never
// read or written through a symbolic link.
std::unique_ptr<StateStore> FileStateStore(std::string dir);
#endif

}  // namespace qov::platform
