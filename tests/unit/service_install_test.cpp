// Install and uninstall runs against a fake SCM, and the choice of the run
// from the command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "service/program_switches.h"
#include "service/service_application.h"
#include "service/system_error.h"
#include "support/fake_service_control.h"

namespace qov::service {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class HookedService final : public TService {
 public:
  explicit HookedService(platform::ServiceControl& sc) : TService(sc, "qov_lumo_service") {
    settings.display_name = "QOV Lumo Service";
    settings.allow_pause = false;
    after_install = [this](TService&) {
      installs++;
      if (install_fails) throw std::runtime_error("Failed to create key \\X");
    };
    after_uninstall = [this](TService&) { uninstalls++; };
  }
  platform::ControlCallback GetServiceController() const override {
    return [](std::uint32_t) {};
  }
  int installs = 0;
  int uninstalls = 0;
  bool install_fails = false;
};

class InstallRunTest : public ::testing::Test {
 protected:
  InstallRunTest() {
    auto s = std::make_unique<HookedService>(scm);
    service = s.get();
    app.Add(std::move(s));
  }
  std::vector<std::string> BoxTexts() {
    std::vector<std::string> out;
    for (const auto& b : scm.Boxes()) out.push_back(b.title + "|" + b.text);
    return out;
  }

  test::FakeServiceControl scm;
  TServiceApplication app{scm};
  HookedService* service;
};

TEST(SwitchTest, PrefixAndWholeWordWithoutRegardToCase) {
  EXPECT_TRUE(HasSwitch({"-install"}, "INSTALL"));
  EXPECT_TRUE(HasSwitch({"/INSTALL"}, "INSTALL"));
  EXPECT_TRUE(HasSwitch({"x", "/InStAlL"}, "INSTALL"));
  EXPECT_FALSE(HasSwitch({"INSTALL"}, "INSTALL"));
  EXPECT_FALSE(HasSwitch({"-INSTALLx"}, "INSTALL"));
  EXPECT_FALSE(HasSwitch({"--INSTALL"}, "INSTALL"));
  EXPECT_FALSE(HasSwitch({"-"}, "INSTALL"));
  EXPECT_FALSE(HasSwitch({"\\INSTALL"}, "INSTALL"));
  EXPECT_FALSE(HasSwitch({}, "INSTALL"));
}

TEST_F(InstallRunTest, InstallRegistersTheServiceAndShowsSuccess) {
  EXPECT_EQ(app.Run({"/InStAlL"}), 0);
  ASSERT_EQ(scm.services.count("qov_lumo_service"), 1u);
  const platform::ServiceConfig& c = scm.services["qov_lumo_service"];
  EXPECT_EQ(c.display_name, "QOV Lumo Service");
  EXPECT_EQ(c.service_type, 0x10u);
  EXPECT_EQ(c.start_type, 2u);
  EXPECT_EQ(c.error_control, 1u);
  EXPECT_EQ(c.binary_path, "C:\\qov\\qov_lumo_service.exe");
  EXPECT_EQ(c.account, "");
  EXPECT_FALSE(c.want_tag);
  EXPECT_EQ(service->installs, 1);
  EXPECT_THAT(BoxTexts(), ElementsAre("Information|Service installed successfully"));
  EXPECT_EQ(scm.Boxes()[0].kind, platform::BoxKind::Information);
}

TEST_F(InstallRunTest, InstallWinsOverUninstallAndSilentHidesOnlySuccess) {
  EXPECT_EQ(app.Run({"-UNINSTALL", "-INSTALL", "-silent"}), 0);
  EXPECT_EQ(scm.services.count("qov_lumo_service"), 1u);
  EXPECT_THAT(scm.Boxes(), IsEmpty());

  // Exists already: the failure box shows in spite of SILENT, and the run exits with 1.
  EXPECT_EQ(app.Run({"-install", "-SILENT"}), 1);
  EXPECT_EQ(service->installs, 1);
  EXPECT_THAT(BoxTexts(), ElementsAre("Error|Service \"QOV Lumo Service\" failed to install with error: "
                                      "\"System Error.  Code: 1073.\r\ntext of 1073\""));
  EXPECT_EQ(scm.Boxes()[0].kind, platform::BoxKind::Error);
}

TEST_F(InstallRunTest, FailingAfterInstallHookDeletesTheNewService) {
  service->install_fails = true;
  EXPECT_EQ(app.Run({"-INSTALL"}), 1);
  EXPECT_EQ(scm.DeleteCalls(), 1);
  EXPECT_EQ(scm.services.count("qov_lumo_service"), 0u);
  EXPECT_THAT(BoxTexts(), ElementsAre("Error|Service \"QOV Lumo Service\" failed to install with error: "
                                      "\"Failed to create key \\X\""));
}

// The recovery actions go with the registration: set right after it, gone
// with the service at the uninstall, and a registration that cannot take
// them is deleted again. A service that asks for none leaves the SCM's
// default alone.
TEST_F(InstallRunTest, RecoveryActionsAreSetAtTheInstallOrTheInstallFails) {
  const platform::RecoveryActions restarts{{60'000, 60'000}, 86'400};
  service->settings.recovery = restarts;
  EXPECT_EQ(app.Run({"-INSTALL", "-SILENT"}), 0);
  ASSERT_EQ(scm.recovery.count("qov_lumo_service"), 1u);
  EXPECT_EQ(scm.recovery["qov_lumo_service"].restart_delays_ms, restarts.restart_delays_ms);
  EXPECT_EQ(scm.recovery["qov_lumo_service"].reset_period_s, 86'400u);
  EXPECT_EQ(app.Run({"-UNINSTALL", "-SILENT"}), 0);
  EXPECT_THAT(scm.recovery, IsEmpty());

  scm.recovery_error = 1072;
  EXPECT_EQ(app.Run({"-INSTALL", "-SILENT"}), 1);
  EXPECT_EQ(scm.services.count("qov_lumo_service"), 0u) << "no service without its recovery actions";
  EXPECT_EQ(service->installs, 1) << "the after-install hook of the failed install did not run";
  EXPECT_THAT(BoxTexts(), ElementsAre("Error|Service \"QOV Lumo Service\" failed to install with error: "
                                      "\"System Error.  Code: 1072.\r\ntext of 1072\""));

  service->settings.recovery = {};
  EXPECT_EQ(app.Run({"-INSTALL", "-SILENT"}), 0);
  EXPECT_THAT(scm.recovery, IsEmpty());
}

TEST_F(InstallRunTest, UninstallDeletesThenCallsTheHook) {
  app.Run({"-INSTALL", "-SILENT"});
  EXPECT_EQ(app.Run({"/uninstall"}), 0);
  EXPECT_EQ(scm.services.count("qov_lumo_service"), 0u);
  EXPECT_EQ(service->uninstalls, 1);
  EXPECT_THAT(BoxTexts(), ElementsAre("Information|Service uninstalled successfully"));
}

TEST_F(InstallRunTest, UninstallFailuresSkipTheHookAndExitWithOne) {
  EXPECT_EQ(app.Run({"-UNINSTALL", "-SILENT"}), 1);
  EXPECT_EQ(service->uninstalls, 0);
  EXPECT_THAT(BoxTexts(), ElementsAre("Error|Service \"QOV Lumo Service\" failed to uninstall with error: "
                                      "\"System Error.  Code: 1060.\r\ntext of 1060\""));

  app.Run({"-INSTALL", "-SILENT"});
  scm.delete_error = 1072;
  EXPECT_EQ(app.Run({"-UNINSTALL", "-SILENT"}), 1);
  EXPECT_EQ(service->uninstalls, 0);
  EXPECT_EQ(scm.Boxes().size(), 2u);
}

TEST_F(InstallRunTest, AnScmThatCannotBeOpenedEscapesTheRun) {
  scm.open_scm_error = 5;
  try {
    app.Run({"-INSTALL"});
    FAIL() << "no error";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.code(), 5u);
    EXPECT_STREQ(e.what(), "System Error.  Code: 5.\r\ntext of 5");
  }
  EXPECT_THAT(scm.Boxes(), IsEmpty());
  EXPECT_EQ(SystemErrorMessage(scm, 0), "A call to an OS function failed");
}

TEST_F(InstallRunTest, APathWithBlanksIsRegisteredInQuotes) {
  scm.module_path = "C:\\Program Files\\QOV Lumo\\qov_lumo_service.exe";
  EXPECT_EQ(app.Run({"-INSTALL", "-SILENT"}), 0);
  EXPECT_EQ(scm.services["qov_lumo_service"].binary_path,
            "\"C:\\Program Files\\QOV Lumo\\qov_lumo_service.exe\"");
}

TEST(ImagePathTest, QuotedOnlyWhenItHoldsABlank) {
  struct Case {
    const char* path;
    const char* image_path;
  };
  const Case cases[] = {
      {"C:\\qov\\qov_lumo_service.exe", "C:\\qov\\qov_lumo_service.exe"},
      {"C:\\Program Files\\qov_lumo_service.exe", "\"C:\\Program Files\\qov_lumo_service.exe\""},
      {"C:\\a\tb\\x.exe", "\"C:\\a\tb\\x.exe\""},
      {"\"C:\\Program Files\\x.exe\"", "\"C:\\Program Files\\x.exe\""},  // already quoted
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ImagePathOf(c.path), c.image_path) << c.path;
}

// Usage and version are answered before anything runs; where unknown words
// are no service run, each one is a usage error with exit 2, and the words
// of a run, an install or a check are left to the program.
TEST(ProgramSwitchesTest, HelpVersionAndUnknownWordsOnBothRules) {
  struct Case {
    std::vector<std::string> args;
    bool unknown_words_run;
    std::optional<int> exit;
    const char* box_title;  // null: no box
    const char* text_part;
  };
  const Case cases[] = {
      {{"--help"}, false, 0, "Information", "-INSTALL"},
      {{"-h"}, false, 0, "Information", "Exit codes"},
      {{"/?"}, true, 0, "Information", "-CHECK"},
      {{"-?"}, false, 0, "Information", "-STATUS       show how the running service is (exit 0 healthy, 1 degraded,"},
      {{"-HELP"}, true, 0, "Information", "Log file: "},
      {{"-install", "--Version"}, true, 0, "Information", "QOV Lumo Service 1."},
      {{"--version"}, false, 0, "Information", "QOV Lumo Service 1."},
      {{"--frobnicate"}, false, 2, "Error", "Unknown word \"--frobnicate\""},
      // Only -HELP and -VERSION take "--": "--check" would otherwise start a run.
      {{"--check"}, false, 2, "Error", "Unknown word \"--check\""},
      {{"--status"}, false, 2, "Error", "Unknown word \"--status\""},
      {{"start"}, false, 2, "Error", "Usage: qov_lumo_service.exe"},
      {{"-CHECK", "extra"}, false, 2, "Error", "Unknown word \"extra\""},
      {{"--frobnicate"}, true, std::nullopt, nullptr, ""},  // the service's own rule: a run
      {{}, false, std::nullopt, nullptr, ""},
      {{"-INSTALL", "-SILENT"}, false, std::nullopt, nullptr, ""},
      {{"/uninstall"}, false, std::nullopt, nullptr, ""},
      {{"--config", "/etc/x.reg", "-check"}, false, std::nullopt, nullptr, ""},
      {{"/Status"}, false, std::nullopt, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + (c.unknown_words_run ? " (run)" : " (refuse)"));
    test::FakeServiceControl scm;
    scm.unknown_words_run = c.unknown_words_run;
    EXPECT_EQ(AnswerProgramSwitches(scm, c.args), c.exit);
    const auto boxes = scm.Boxes();
    if (!c.box_title) {
      EXPECT_THAT(boxes, IsEmpty());
      continue;
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, c.box_title);
    EXPECT_THAT(boxes[0].text, ::testing::HasSubstr(c.text_part));
  }
  // Four numbers with dots between, as the version resource gives it.
  const std::string version = VersionText();
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
  EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
}

TEST(FileNameTest, DirectoryIsDropped) {
  EXPECT_EQ(FileNameOf("C:\\qov\\qov_lumo_service.exe"), "qov_lumo_service.exe");
  EXPECT_EQ(FileNameOf("/usr/bin/qov"), "qov");
  EXPECT_EQ(FileNameOf("plain"), "plain");
}

}  // namespace
}  // namespace qov::service
