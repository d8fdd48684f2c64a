// What the simulated device does, set from the command line and changed
// while it runs by lines on its control FIFO.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qov::sim {

enum class Mode { Normal, Silent, Late, Garbage, Split };

struct Settings {
  Mode mode = Mode::Normal;
  std::string identification = "QOV Lumo 1.0.0";
  std::string acknowledgement = "Z";
  std::string garbage = "?!";
  int delay_ms = 800;       // Late: before every reply
  int split_at = 9;         // Split: bytes in the identification's first part
  int split_pause_ms = 150; // Split: pause between the parts
  std::optional<int> refused_code;  // never answered
};

// The actions a control line can ask for beside a settings change.
enum class Action { None, Drop, Unplug, Plug, Quit, Invalid };

// Applies one "name value" command ("mode silent", "delay 900", "refuse 5",
// "model vesperin", "id TEXT", "drop", ...); returns what else to do.
Action ApplyCommand(Settings& s, const std::string& line);

}  // namespace qov::sim
