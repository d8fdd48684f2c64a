// Program start: the application object, the service module, one run. The
// exit code is 1 after a failed install or uninstall or an uncaught error.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <typeinfo>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/registry_setup.h"
#include "platform/service_control.h"
#include "platform/state_store.h"
#include "service/config_check.h"
#include "service/program_switches.h"
#include "service/qov_lumo_service.h"
#include "service/report_command.h"
#include "service/service_application.h"
#include "service/status_query.h"
#include "service/system_error.h"
#include "service/test_command.h"

namespace {

constexpr std::uint32_t kExitLogLimitMs = 1000;

// The box for an error that no run catches; the program then ends with exit code 1.
int ShowFatalError(qov::platform::ServiceControl& sc, const char* class_name, const void* address,
                   const std::string& text) {
  char head[512];
  std::snprintf(head, sizeof head, "Exception %s in module %s at %p.", class_name,
                qov::service::FileNameOf(sc.ModuleFileName()).c_str(), address);
  sc.ShowMessageBox("Application Error", std::string(head) + "\r\n" + text, qov::platform::BoxKind::Fatal);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // A report reads a log file only: no configuration, no service.
  if (const auto reported = qov::service::AnswerReportSwitch(qov::platform::ProgramArguments(argc, argv), stdout,
                                                             stderr)) {
    return *reported;
  }
  // Usage and version come first: they need no configuration and touch nothing.
  if (const auto answered = qov::service::AnswerProgramSwitches(qov::platform::SystemServiceControl(),
                                                                qov::platform::ProgramArguments(argc, argv))) {
    return *answered;
  }
  // "-STATUS" reads the record the running service keeps and writes nothing;
  // it needs no configuration, which an operator may not be allowed to read.
  if (qov::service::HasSwitch(qov::platform::ProgramArguments(argc, argv), "STATUS")) {
    return qov::service::RunStatusQuery(qov::platform::SystemStateStore(), stdout,
                                        qov::service::StatusQueryFacts::System());
  }
  // "-TEST MODEM|COMPUTER" asks the running service; it needs no configuration.
  if (qov::service::HasSwitch(qov::platform::ProgramArguments(argc, argv), "TEST")) {
    return qov::service::RunSystemTestCommand(qov::platform::ProgramArguments(argc, argv));
  }
  if (!qov::platform::PrepareSystemRegistry(argc, argv)) return 1;
  // "-CHECK" reads the configuration as the service would and reports; it
  // writes nothing and needs no installed service.
  if (qov::service::HasSwitch(qov::platform::ProgramArguments(argc, argv), "CHECK")) {
    return qov::service::RunConfigurationCheck(qov::platform::SystemRegistry(), stdout);
  }
  qov::platform::ServiceControl& sc = qov::platform::SystemServiceControl();
  int exit_code = 0;
  try {
    qov::service::TServiceApplication app(sc);
    auto module = std::make_unique<qov::service::Tqov_lumo_service>(sc, qov::platform::SystemClock(),
                                                                     qov::platform::SystemRegistry());
    qov::service::Tqov_lumo_service* const service = module.get();
    qov::service::qov_lumo_service.store(service, std::memory_order_release);
    app.Add(std::move(module));
    exit_code = app.Run(qov::platform::ProgramArguments(argc, argv));
    qov::service::qov_lumo_service.store(nullptr, std::memory_order_release);
    // Workers left running (a system shutdown leaves the board's timer on)
    // end with the process, before anything they use is destroyed.
    if (service->PrepareExitWithWorkersRunning(kExitLogLimitMs)) {
      std::fflush(nullptr);
      std::_Exit(exit_code);
    }
  } catch (const qov::service::SystemError& e) {
    return ShowFatalError(sc, "SystemError", e.address(), e.what());
  } catch (const std::exception& e) {
    return ShowFatalError(sc, typeid(e).name(), nullptr, e.what());
  }
  return exit_code;
}
