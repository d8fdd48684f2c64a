#include "platform/systemd_unit.h"

namespace qov::platform {

std::string SystemdUnitText(const std::string& description, const std::string& exec_start) {
  // The stop takes the threads down one by one (at most 11 s of waits);
  // systemd waits a little longer before it sends SIGKILL.
  return "[Unit]\n"
         "Description=" + description + "\n"
         "Documentation=man:qov_lumo_service(8) man:qov_lumo.reg(5)\n"
         "After=network.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "NotifyAccess=main\n"
         "ExecStart=" + exec_start + "\n"
         "Restart=on-failure\n"
         "RestartSec=5\n"
         "WatchdogSec=" + std::to_string(kSystemdWatchdogSec) + "\n"
         "TimeoutStopSec=20\n"
         "KillMode=mixed\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

}  // namespace qov::platform
