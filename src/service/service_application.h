// The program's application object: owns the services and makes exactly one
// of three runs, chosen by the command line: install, uninstall, or the
// service run under the SCM.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/service_control.h"
#include "service/event_logger.h"
#include "service/service.h"

namespace qov::service {

// True when some argument is "-" or "/" followed by exactly `name`, compared without regard to case.
bool HasSwitch(const std::vector<std::string>& args, const std::string& name);

// The file name of a path, without its directory.
std::string FileNameOf(const std::string& path);

// The executable path as the SCM's image path: in double quotes when it holds
// a blank, so that "C:\Program Files\..." cannot start "C:\Program.exe".
std::string ImagePathOf(const std::string& path);

class TServiceApplication {
 public:
  explicit TServiceApplication(platform::ServiceControl& sc);

  void Add(std::unique_ptr<TService> service);

  // All on the main thread. A failure to open the SCM escapes as SystemError.
  // Returns the program's exit code: 1 after an install or uninstall run in
  // which a service failed, otherwise 0.
  int Run(const std::vector<std::string>& args);
  // False when a service failed (its box has been shown).
  bool RegisterServices(bool install, bool silent);
  void DispatchServices();

 private:
  void InstallOne(platform::ScmConnection& scm, TService& s);
  void UninstallOne(platform::ScmConnection& scm, TService& s);
  // The service entry routine: finds the service named by argument 0.
  void ServiceEntry(const std::vector<std::string>& args);

  platform::ServiceControl& sc_;
  TEventLogger logger_;  // source: the executable's file name
  std::vector<std::unique_ptr<TService>> services_;
};

}  // namespace qov::service
