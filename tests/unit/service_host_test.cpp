// The service run against a fake SCM: status order and check-points, the
// control codes, and where failures are reported.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "service/service.h"
#include "service/service_application.h"
#include "support/fake_service_control.h"

namespace qov::service {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TestService;
std::atomic<TestService*> g_current{nullptr};

// A service whose handlers count their calls; its control callback reaches
// the one instance of the test.
class TestService final : public TService {
 public:
  explicit TestService(platform::ServiceControl& sc) : TService(sc, "qov_lumo_service") {
    settings.allow_pause = false;
    g_current.store(this);
  }
  ~TestService() override { g_current.store(nullptr); }
  platform::ControlCallback GetServiceController() const override {
    return [](std::uint32_t code) { g_current.load()->Controller(code); };
  }
  int starts = 0;
  int stops = 0;
};

struct StateAndPoint {
  std::uint32_t state, check_point, accepted;
  bool operator==(const StateAndPoint&) const = default;
};

std::vector<StateAndPoint> Reported(test::FakeServiceControl& scm) {
  std::vector<StateAndPoint> out;
  for (const auto& s : scm.Statuses()) out.push_back({s.current_state, s.check_point, s.controls_accepted});
  return out;
}

class ServiceRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service.SetOnStart([this](TService&, bool& started) {
      service.starts++;
      started = start_result;
      if (start_throws) throw std::runtime_error("no port");
    });
    service.SetOnStop([this](TService&, bool& stopped) {
      service.stops++;
      if (stop_throws) throw std::runtime_error("stuck");
      stopped = stop_result;
    });
  }
  // Runs the entry routine to its end; the fake SCM sends the codes in
  // controls_on_state as the states are reported.
  void Run() { service.Main({"qov_lumo_service", "extra"}); }

  test::FakeServiceControl scm;
  TestService service{scm};
  bool start_result = true;
  bool start_throws = false;
  bool stop_result = true;
  bool stop_throws = false;
};

constexpr std::uint32_t kStopped = 1, kStartPending = 2, kStopPending = 3, kRunning = 4;

TEST_F(ServiceRunTest, StartAndStopReportTheStatusSequenceWithCheckPoints) {
  scm.controls_on_state.insert({kRunning, 1});
  Run();
  EXPECT_THAT(Reported(scm), ElementsAre(StateAndPoint{kStartPending, 1, 0}, StateAndPoint{kStartPending, 2, 0},
                                         StateAndPoint{kRunning, 0, 5}, StateAndPoint{kStopPending, 0, 5},
                                         StateAndPoint{kStopped, 0, 5}));
  for (const auto& s : scm.Statuses()) {
    EXPECT_EQ(s.service_type, 0x10u);
    EXPECT_EQ(s.wait_hint, 5000u);
    EXPECT_EQ(s.win32_exit_code, 0u);
  }
  EXPECT_EQ(service.starts, 1);
  EXPECT_EQ(service.stops, 1);
  EXPECT_THAT(service.Params(), ElementsAre("qov_lumo_service", "extra"));
  EXPECT_THAT(scm.Events(), IsEmpty());
}

// A long stop reports each of its steps, so the SCM never takes a working
// stop for a hung service.
TEST_F(ServiceRunTest, StopProgressRaisesTheCheckPointWithEachStepsWaitHint) {
  service.SetOnStop([this](TService& sender, bool&) {
    sender.ReportProgress(6000);
    sender.ReportProgress(3000);
  });
  scm.controls_on_state.insert({kRunning, 1});
  Run();
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pending;  // check-point, wait hint
  for (const auto& s : scm.Statuses()) {
    if (s.current_state == kStopPending) pending.emplace_back(s.check_point, s.wait_hint);
  }
  EXPECT_THAT(pending, ElementsAre(std::pair{0u, 5000u}, std::pair{1u, 6000u}, std::pair{2u, 3000u}));
  EXPECT_EQ(scm.Statuses().back().current_state, kStopped);
}

TEST_F(ServiceRunTest, ShutdownReportsStopPendingAndStoppedWithoutTheStopHandler) {
  scm.controls_on_state.insert({kRunning, 5});
  Run();
  EXPECT_THAT(Reported(scm), ElementsAre(StateAndPoint{kStartPending, 1, 0}, StateAndPoint{kStartPending, 2, 0},
                                         StateAndPoint{kRunning, 0, 5}, StateAndPoint{kStopPending, 0, 5},
                                         StateAndPoint{kStopped, 0, 5}));
  EXPECT_EQ(service.stops, 0);
}

// Stops and a shutdown that arrive while the first stop runs (stop pending)
// call no handler again: one stop, reported once, and the run ends.
TEST_F(ServiceRunTest, ControlsQueuedDuringTheStopCallNoHandlerAgain) {
  scm.controls_on_state.insert({kRunning, 1});
  scm.controls_on_state.insert({kStopPending, 1});
  scm.controls_on_state.insert({kStopPending, 5});
  scm.controls_on_state.insert({kStopPending, 1});
  Run();
  EXPECT_EQ(service.stops, 1);
  EXPECT_THAT(Reported(scm), ElementsAre(StateAndPoint{kStartPending, 1, 0}, StateAndPoint{kStartPending, 2, 0},
                                         StateAndPoint{kRunning, 0, 5}, StateAndPoint{kStopPending, 0, 5},
                                         StateAndPoint{kStopped, 0, 5}));
  EXPECT_THAT(scm.Events(), IsEmpty());
}

TEST_F(ServiceRunTest, InterrogateRepeatsTheStateAndUnknownCodesChangeNothing) {
  scm.controls_on_state.insert({kRunning, 4});
  scm.controls_on_state.insert({kRunning, 200});
  scm.controls_on_state.insert({kRunning, 1});
  Run();
  // The interrogate report comes from the queue after the first running report;
  // the repeated running state is not pending, so its check-point stays 0.
  EXPECT_THAT(Reported(scm), ElementsAre(StateAndPoint{kStartPending, 1, 0}, StateAndPoint{kStartPending, 2, 0},
                                         StateAndPoint{kRunning, 0, 5}, StateAndPoint{kRunning, 0, 5},
                                         StateAndPoint{kStopPending, 0, 5}, StateAndPoint{kStopped, 0, 5}));
  EXPECT_THAT(scm.Events(), IsEmpty());
}

// The service's own codes (128..255) reach its handler on the service
// thread, others do not, and none changes the state; after the stop none
// reaches it any more.
TEST_F(ServiceRunTest, UserDefinedCodesReachTheCustomHandlerUntilTheStop) {
  std::vector<std::uint32_t> custom;
  service.SetOnCustomControl([&custom](TService&, std::uint32_t code) { custom.push_back(code); });
  for (const std::uint32_t code : {200u, 127u, 128u, 255u, 256u, 201u, 1u}) scm.controls_on_state.insert({kRunning, code});
  scm.controls_on_state.insert({kStopPending, 200});
  Run();
  EXPECT_THAT(custom, ElementsAre(200u, 128u, 255u, 201u));
  EXPECT_THAT(Reported(scm), ElementsAre(StateAndPoint{kStartPending, 1, 0}, StateAndPoint{kStartPending, 2, 0},
                                         StateAndPoint{kRunning, 0, 5}, StateAndPoint{kStopPending, 0, 5},
                                         StateAndPoint{kStopped, 0, 5}));
}

TEST_F(ServiceRunTest, StartFailuresStopTheServiceAndOnlyAnErrorIsLogged) {
  start_result = false;
  Run();
  EXPECT_THAT(Reported(scm), ElementsAre(StateAndPoint{kStartPending, 1, 0}, StateAndPoint{kStartPending, 2, 0},
                                         StateAndPoint{kStopped, 0, 5}));
  EXPECT_THAT(scm.Events(), IsEmpty());

  test::FakeServiceControl scm2;
  TestService failing(scm2);
  failing.SetOnStart([](TService&, bool&) { throw std::runtime_error("no port"); });
  failing.Main({"qov_lumo_service"});
  ASSERT_EQ(scm2.Events().size(), 1u);
  EXPECT_EQ(scm2.Events()[0].source, "qov_lumo_service");
  EXPECT_EQ(scm2.Events()[0].text, "Service failed on start: no port");
  EXPECT_EQ(scm2.Statuses().back().current_state, kStopped);
}

TEST_F(ServiceRunTest, StopHandlerThatRefusesOrFailsRestoresTheStateBefore) {
  stop_result = false;
  scm.controls_on_state.insert({kStopPending, 5});  // so that the run ends after the refused stop
  scm.controls_on_state.insert({kRunning, 1});
  Run();
  EXPECT_THAT(Reported(scm), ElementsAre(StateAndPoint{kStartPending, 1, 0}, StateAndPoint{kStartPending, 2, 0},
                                         StateAndPoint{kRunning, 0, 5}, StateAndPoint{kStopPending, 0, 5},
                                         StateAndPoint{kRunning, 0, 5}, StateAndPoint{kStopPending, 0, 5},
                                         StateAndPoint{kStopped, 0, 5}));

  test::FakeServiceControl scm2;
  TestService failing(scm2);
  failing.SetOnStop([](TService&, bool&) { throw std::runtime_error("stuck"); });
  scm2.controls_on_state.insert({kStopPending, 5});
  scm2.controls_on_state.insert({kRunning, 1});
  scm2.controls_on_state.insert({kRunning, 77});
  failing.Main({"qov_lumo_service"});
  ASSERT_EQ(scm2.Events().size(), 1u);
  EXPECT_EQ(scm2.Events()[0].text, "Service failed on stop: stuck");
  EXPECT_EQ(scm2.Statuses()[4].current_state, kRunning);
}

TEST_F(ServiceRunTest, FailedShutdownIsLoggedAndStillEndsTheRun) {
  test::FakeServiceControl scm2;
  TestService s(scm2);
  s.SetOnShutdown([](TService&) { throw std::runtime_error("late"); });
  scm2.controls_on_state.insert({kRunning, 5});
  s.Main({"qov_lumo_service"});
  ASSERT_EQ(scm2.Events().size(), 1u);
  EXPECT_EQ(scm2.Events()[0].text, "Service failed on shutdown: late");
  // A failed shutdown keeps stop-pending and still ends the run.
  EXPECT_EQ(Reported(scm2).back(), (StateAndPoint{kStopped, 0, 5}));
  EXPECT_EQ(Reported(scm2)[3], (StateAndPoint{kStopPending, 0, 5}));
}

TEST_F(ServiceRunTest, PlatformFailuresGoToTheServicesEventSource) {
  scm.register_handler_error = 1400;
  Run();
  EXPECT_THAT(scm.Statuses(), IsEmpty());
  ASSERT_EQ(scm.Events().size(), 1u);
  EXPECT_EQ(scm.Events()[0].text, "text of 1400");
  EXPECT_EQ(service.starts, 0);

  test::FakeServiceControl scm2;
  TestService s(scm2);
  scm2.set_status_error = 6;
  scm2.controls_on_state.insert({kRunning, 1});
  s.Main({"qov_lumo_service"});
  EXPECT_EQ(scm2.Events().size(), scm2.Statuses().size());
  EXPECT_EQ(scm2.EventSourcesOpened(), 1);  // registered once, on the first message
}

TEST(ServiceDispatchTest, DispatcherFailureIsWrittenToTheApplicationsSource) {
  test::FakeServiceControl scm;
  scm.dispatcher_error = 1063;
  TServiceApplication app(scm);
  app.Add(std::make_unique<TestService>(scm));
  app.Run({});
  ASSERT_EQ(scm.Events().size(), 1u);
  EXPECT_EQ(scm.Events()[0].source, "qov_lumo_service.exe");
  EXPECT_EQ(scm.Events()[0].text, "text of 1063");
}

TEST(ServiceDispatchTest, EntryFindsTheServiceByNameWithoutRegardToCase) {
  test::FakeServiceControl scm;
  scm.dispatcher_args = {"QOV_Lumo_Service"};
  scm.controls_on_state.insert({kRunning, 1});
  TServiceApplication app(scm);
  app.Add(std::make_unique<TestService>(scm));
  app.Run({"SILENT", "-SILENT"});
  EXPECT_EQ(Reported(scm).back(), (StateAndPoint{kStopped, 0, 5}));

  test::FakeServiceControl other;
  other.dispatcher_args = {"another_service"};
  TServiceApplication app2(other);
  app2.Add(std::make_unique<TestService>(other));
  app2.Run({});
  EXPECT_THAT(other.Statuses(), IsEmpty());
  EXPECT_THAT(other.Events(), IsEmpty());
}

TEST(ServiceStatusTest, CheckPointsCountOnlyRepeatedPendingStates) {
  ServiceSettings settings;
  StatusBook book;
  auto cp = [&](ServiceState s) { return MakeStatus(settings, 0x10, s, book, 0, 0).check_point; };
  EXPECT_EQ(cp(ServiceState::StartPending), 1u);
  EXPECT_EQ(cp(ServiceState::StartPending), 2u);
  EXPECT_EQ(cp(ServiceState::StartPending), 3u);
  EXPECT_EQ(cp(ServiceState::Running), 0u);
  EXPECT_EQ(cp(ServiceState::Running), 0u);
  EXPECT_EQ(cp(ServiceState::StopPending), 0u);
  EXPECT_EQ(cp(ServiceState::StopPending), 1u);
  const platform::ServiceStatus specific = MakeStatus(settings, 0x10, ServiceState::Stopped, book, 5, 9);
  EXPECT_EQ(specific.win32_exit_code, 1066u);
  EXPECT_EQ(specific.service_specific_exit_code, 9u);
}

TEST(ServiceStatusTest, SettingsMapToScmValues) {
  ServiceSettings s;
  EXPECT_EQ(ServiceTypeValue(s, false), 0x10u);
  EXPECT_EQ(ServiceTypeValue(s, true), 0x20u);
  s.interactive = true;
  EXPECT_EQ(ServiceTypeValue(s, false), 0x110u);
  EXPECT_EQ(StartTypeValue(s), 2u);
  EXPECT_EQ(ErrorControlValue(s), 1u);
  s.start_type = StartKind::Boot;
  EXPECT_EQ(StartTypeValue(s), 2u);
  s.service_type = ServiceKind::Device;
  EXPECT_EQ(StartTypeValue(s), 0u);
  EXPECT_EQ(ServiceTypeValue(s, false), 1u);
  EXPECT_EQ(ControlsAccepted(s, ServiceState::StartPending), 0u);
  EXPECT_EQ(ControlsAccepted(s, ServiceState::Running), 7u);
  s.allow_pause = false;
  EXPECT_EQ(ControlsAccepted(s, ServiceState::StopPending), 5u);
}

TEST(SystemMessageTest, TrailingBlanksControlsAndPeriodsAreRemoved) {
  EXPECT_EQ(platform::TrimSystemMessage("The specified service already exists.\r\n"),
            "The specified service already exists");
  EXPECT_EQ(platform::TrimSystemMessage("a. b .. \t"), "a. b");
  EXPECT_EQ(platform::TrimSystemMessage("..."), "");
}

}  // namespace
}  // namespace qov::service
