#include "service/service_application.h"

#include <atomic>
#include <exception>

#include "platform/thread.h"
#include "service/system_error.h"

namespace qov::service {

bool HasSwitch(const std::vector<std::string>& args, const std::string& name) {
  for (const std::string& a : args) {
    if (a.size() > 1 && (a[0] == '-' || a[0] == '/') &&
        platform::SameTextIgnoringCase(std::string_view(a).substr(1), name)) {
      return true;
    }
  }
  return false;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ImagePathOf(const std::string& path) {
  if (path.find_first_of(" \t") == std::string::npos || path.starts_with('"')) return path;
  return '"' + path + '"';
}

TServiceApplication::TServiceApplication(platform::ServiceControl& sc)
    : sc_(sc), logger_(sc, FileNameOf(sc.ModuleFileName())) {}

void TServiceApplication::Add(std::unique_ptr<TService> service) {
  services_.push_back(std::move(service));
  for (auto& s : services_) s->SetSharedProcess(services_.size() > 1);
}

int TServiceApplication::Run(const std::vector<std::string>& args) {
  if (HasSwitch(args, "INSTALL")) return RegisterServices(true, HasSwitch(args, "SILENT")) ? 0 : 1;
  if (HasSwitch(args, "UNINSTALL")) return RegisterServices(false, HasSwitch(args, "SILENT")) ? 0 : 1;
  DispatchServices();
  return 0;
}

bool TServiceApplication::RegisterServices(bool install, bool silent) {
  std::uint32_t error = 0;
  std::unique_ptr<platform::ScmConnection> scm = sc_.OpenScm(error);
  if (!scm) throw SystemError(sc_, error);
  bool success = true;
  for (auto& s : services_) {
    try {
      if (install) {
        InstallOne(*scm, *s);
      } else {
        UninstallOne(*scm, *s);
      }
    } catch (...) {
      const std::string text = ErrorText(std::current_exception());
      const char* verb = install ? "install" : "uninstall";
      sc_.ShowMessageBox("Error",
                         "Service \"" + s->settings.ShownName() + "\" failed to " + verb + " with error: \"" +
                             text + "\"",
                         platform::BoxKind::Error);
      success = false;
    }
  }
  if (success && !silent) {
    sc_.ShowMessageBox("Information",
                       install ? "Service installed successfully" : "Service uninstalled successfully",
                       platform::BoxKind::Information);
  }
  return success;
}

void TServiceApplication::InstallOne(platform::ScmConnection& scm, TService& s) {
  platform::ServiceConfig c;
  c.binary_path = ImagePathOf(sc_.ModuleFileName());
  if (s.before_install) s.before_install(s);
  c.name = s.settings.name;
  c.display_name = s.settings.ShownName();
  c.service_type = ServiceTypeValue(s.settings, services_.size() > 1);
  c.start_type = StartTypeValue(s.settings);
  c.error_control = ErrorControlValue(s.settings);
  c.load_group = s.settings.load_group;
  c.want_tag = s.settings.tag_id > 0;
  c.dependencies = s.settings.dependencies;
  c.account = s.settings.service_start_name;
  c.password = s.settings.password;

  std::uint32_t tag = 0;
  std::uint32_t error = 0;
  std::unique_ptr<platform::ServiceHandle> handle = scm.Create(c, tag, error);
  if (!handle) throw SystemError(sc_, error);
  if (c.want_tag) s.settings.tag_id = tag;
  // A service registered without its recovery actions would not come back
  // after a crash: that is a failed install, and nothing of it stays.
  if (!s.settings.recovery.restart_delays_ms.empty() && !handle->SetRecoveryActions(s.settings.recovery, error)) {
    std::uint32_t ignored = 0;
    handle->Delete(ignored);
    throw SystemError(sc_, error);
  }
  try {
    if (s.after_install) s.after_install(s);
  } catch (...) {
    std::uint32_t ignored = 0;
    handle->Delete(ignored);
    throw;
  }
}

void TServiceApplication::UninstallOne(platform::ScmConnection& scm, TService& s) {
  if (s.before_uninstall) s.before_uninstall(s);
  std::uint32_t error = 0;
  {
    std::unique_ptr<platform::ServiceHandle> handle = scm.Open(s.settings.name, error);
    if (!handle) throw SystemError(sc_, error);
    if (!handle->Delete(error)) throw SystemError(sc_, error);
  }
  if (s.after_uninstall) s.after_uninstall(s);
}

void TServiceApplication::ServiceEntry(const std::vector<std::string>& args) {
  if (args.empty()) return;
  for (auto& s : services_) {
    if (platform::SameTextIgnoringCase(s->settings.name, args[0])) {
      s->Main(args);
      return;
    }
  }
}

void TServiceApplication::DispatchServices() {
  std::vector<std::string> names;
  for (auto& s : services_) names.push_back(s->settings.name);
  std::unique_ptr<platform::MessageLoop> loop = sc_.MakeMessageLoop();
  // Written by the dispatcher thread before it ends the loop, read here after.
  std::atomic<std::uint32_t> result{0};
  platform::Thread dispatcher([&] {
    result.store(sc_.RunDispatcher(names, [this](const std::vector<std::string>& args) { ServiceEntry(args); }),
                 std::memory_order_release);
    loop->Quit();
  });
  loop->Run();
  const std::uint32_t code = result.load(std::memory_order_acquire);
  if (code != 0) logger_.LogMessage(sc_.SystemErrorText(code));
}

}  // namespace qov::service
