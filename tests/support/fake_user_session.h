// A process list and token source for program control, with the created
// command lines recorded.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "supervision/program_control.h"

namespace qov::test {

class FakeUserSession final : public supervision::UserSession {
 public:
  class Token final : public platform::UserToken {
   public:
    Token(std::string owner, int* open) : owner(std::move(owner)), open_(open) { ++*open_; }
    ~Token() override { --*open_; }
    std::string owner;

   private:
    int* open_;
  };

  std::vector<platform::ProcessEntry> Processes() override {
    if (on_processes) on_processes();
    return processes;
  }
  // Called whenever the process list is asked for.
  std::function<void()> on_processes;
  std::unique_ptr<platform::UserToken> ConsoleUserToken() override {
    ++console_requests;
    if (!console_token) return nullptr;
    return std::make_unique<Token>("console", &open_tokens);
  }
  std::unique_ptr<platform::UserToken> ProcessUserToken(std::uint32_t pid) override {
    token_pids.push_back(pid);
    if (!process_tokens) return nullptr;
    return std::make_unique<Token>("pid " + std::to_string(pid), &open_tokens);
  }
  platform::CreateResult StartProcessAsUser(platform::UserToken& token, const std::string& command_line) override {
    created.push_back({static_cast<Token&>(token).owner, command_line});
    if (create_error) return {false, *create_error};
    return {true, 0};
  }

  std::vector<platform::ProcessEntry> processes;
  bool console_token = true;
  bool process_tokens = true;
  std::optional<std::uint32_t> create_error;

  int console_requests = 0;
  std::vector<std::uint32_t> token_pids;
  struct Created {
    std::string token_owner;
    std::string command_line;
  };
  std::vector<Created> created;
  int open_tokens = 0;
};

}  // namespace qov::test
