#include "supervision/program_control.h"

#include <gtest/gtest.h>

#include "support/fake_user_session.h"
#include "support/recording_log.h"

namespace qov::supervision {
namespace {

class ProgramControlTest : public ::testing::Test {
 protected:
  ProgramControlTest() {
    params.program_ctrl_process_name = "Agent.exe";
    params.program_ctrl_command_line = "C:\\tools\\agent.exe -q";
    session.processes = {{4, "System"}, {100, "explorer.exe"}, {200, "EXPLORER.EXE"}};
  }
  std::vector<std::string> Step() {
    ProgramControl(session, log, params).Step(no_stop);
    return log.Texts();
  }
  const std::atomic<bool> no_stop{false};

  config::TParamRec params;
  test::FakeUserSession session;
  test::RecordingLog log;
};

TEST(NameMatchTest, FileNamePartOrWholeTextIgnoringAsciiCase) {
  struct Case {
    const char* exe;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"agent.exe", "AGENT.EXE", true},
      {"C:\\Tools\\Agent.exe", "agent.exe", true},
      {"C:agent.exe", "agent.exe", true},
      {"agent.exe", "C:\\Tools\\agent.exe", false},
      {"agent.exe", " agent.exe", false},
      {"\xC4gent.exe", "\xE4gent.exe", false},  // only a-z fold
      // A name without an extension also matches the listed name without its own.
      {"TELEMETRY.EXE", "telemetry", true},
      {"telemetry.exe", "TELEMETRY", true},
      {"C:\\Tools\\Telemetry.exe", "telemetry", true},
      {"C:\\Tools\\Telemetry.exe", "c:\\tools\\telemetry", true},
      {"telemetry", "telemetry", true},
      {"telemetry.exe", "telemetr", false},
      {"telemetry.exe", "telemetry.", false},   // an empty extension is still one
      {"telemetry.exe", "telemetry.com", false},
      {"telemetry.v2.exe", "telemetry", false},  // only the last extension goes
      {"telemetry.v2.exe", "telemetry.v2", false},
      {"C:\\v1.0\\agent", "c:\\v1", false},  // a dot in a folder is no extension
      {"C:\\v1.0\\agent.exe", "C:\\v1.0\\agent", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExeMatchesName(c.exe, c.name), c.matches) << c.exe << " / " << c.name;
  }
}

TEST(NameMatchTest, FirstMatchInListOrder) {
  const std::vector<platform::ProcessEntry> list = {{7, "a.exe"}, {0, "idle"}, {9, "A.EXE"}};
  EXPECT_EQ(FindProcessId(list, "a.exe"), 7u);
  EXPECT_EQ(FindProcessId(list, "b.exe"), 0u);
  EXPECT_TRUE(ProcessRunning(list, "IDLE"));  // running even with process id 0
  EXPECT_FALSE(ProcessRunning({}, "a.exe"));
}

TEST_F(ProgramControlTest, NothingWithoutNameOrCommandLine) {
  params.program_ctrl_command_line.clear();
  EXPECT_TRUE(Step().empty());
  params.program_ctrl_command_line = "x";
  params.program_ctrl_process_name.clear();
  EXPECT_TRUE(Step().empty());
  EXPECT_TRUE(session.created.empty());
}

TEST_F(ProgramControlTest, RunningProgramIsLeftAlone) {
  session.processes.push_back({300, "agent.EXE"});
  EXPECT_EQ(Step(), (std::vector<std::string>{"check process ok"}));
  EXPECT_TRUE(session.created.empty());
  EXPECT_EQ(session.console_requests, 0);
}

TEST_F(ProgramControlTest, MissingProgramStartedWithConsoleToken) {
  EXPECT_EQ(Step(), (std::vector<std::string>{"check process fail", "start process ok"}));
  ASSERT_EQ(session.created.size(), 1u);
  EXPECT_EQ(session.created[0].token_owner, "console");
  EXPECT_EQ(session.created[0].command_line, "C:\\tools\\agent.exe -q");
  EXPECT_TRUE(session.token_pids.empty());  // the token process is never consulted
  EXPECT_EQ(session.open_tokens, 0);
}

// The stop comes while the processes are listed: nothing is logged or started.
TEST_F(ProgramControlTest, StopDuringTheProcessListStartsNothing) {
  std::atomic<bool> stop{false};
  session.on_processes = [&] { stop = true; };
  ProgramControl(session, log, params).Step(stop);
  EXPECT_TRUE(log.Texts().empty());
  EXPECT_TRUE(session.created.empty());
  EXPECT_EQ(session.console_requests, 0);
}

TEST_F(ProgramControlTest, WithoutConsoleTokenBorrowsFirstTokenProcess) {
  session.console_token = false;
  EXPECT_EQ(Step(), (std::vector<std::string>{"check process fail", "start process ok"}));
  EXPECT_EQ(session.token_pids, (std::vector<std::uint32_t>{100}));
  ASSERT_EQ(session.created.size(), 1u);
  EXPECT_EQ(session.created[0].token_owner, "pid 100");
  EXPECT_EQ(session.open_tokens, 0);
}

TEST_F(ProgramControlTest, NoTokenAnywhereMeansNoProcess) {
  session.console_token = false;
  session.process_tokens = false;
  EXPECT_EQ(Step(), (std::vector<std::string>{"check process fail", "start process fail"}));
  EXPECT_TRUE(session.created.empty());
}

TEST_F(ProgramControlTest, TokenProcessNotRunningMeansNoProcess) {
  session.console_token = false;
  params.program_ctrl_token_process = "shell.exe";
  EXPECT_EQ(Step(), (std::vector<std::string>{"check process fail", "start process fail"}));
  EXPECT_TRUE(session.token_pids.empty());
  EXPECT_TRUE(session.created.empty());
}

TEST_F(ProgramControlTest, RefusedCreationLogsTheErrorCode) {
  session.create_error = 3221225477u;
  EXPECT_EQ(Step(), (std::vector<std::string>{"check process fail", "CreateProcessAsUser fail, GetLastError = 3221225477",
                                              "start process fail"}));
  EXPECT_EQ(session.open_tokens, 0);
}

TEST_F(ProgramControlTest, NameWithoutExtensionFindsTheRunningProgram) {
  session.processes.push_back({300, "AGENT.EXE"});
  params.program_ctrl_process_name = "agent";
  EXPECT_EQ(Step(), (std::vector<std::string>{"check process ok"}));
  EXPECT_EQ(Step(), (std::vector<std::string>{"check process ok", "check process ok"}));
  EXPECT_TRUE(session.created.empty());
}

}  // namespace
}  // namespace qov::supervision
