// A Service Control Manager in memory: keeps installed services, records
// every status report, event-log message and message box, and can deliver
// control codes when the service reaches a state.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/memory_control_queue.h"
#include "platform/service_control.h"

namespace qov::test {

class FakeServiceControl final : public platform::ServiceControl {
 public:
  struct Box {
    std::string title, text;
    platform::BoxKind kind;
  };
  // A host error has ID 0, type Error and `text` as its one string.
  struct Event {
    std::string source, text;
    std::uint32_t id = 0;
    platform::EventType type = platform::EventType::Error;
    std::vector<std::string> strings;
  };

  // Set-up.
  std::uint32_t open_scm_error = 0;         // non-zero: OpenScm fails
  std::uint32_t dispatcher_error = 0;       // non-zero: RunDispatcher fails at once
  std::uint32_t register_handler_error = 0;
  std::uint32_t set_status_error = 0;
  std::uint32_t delete_error = 0;           // non-zero: DeleteService fails
  std::uint32_t recovery_error = 0;         // non-zero: setting the recovery actions fails
  std::string module_path = "C:\\qov\\qov_lumo_service.exe";
  bool unknown_words_run = true;  // false: a daemon's rule, unknown words are a usage error
  std::vector<std::string> dispatcher_args;  // empty: the first service name
  // Codes sent through the registered handler when a status with that state is reported.
  std::multimap<std::uint32_t, std::uint32_t> controls_on_state;

  std::map<std::string, platform::ServiceConfig> services;
  // The recovery actions set on each installed service; gone with it.
  std::map<std::string, platform::RecoveryActions> recovery;

  // Observations.
  std::vector<platform::ServiceStatus> Statuses() {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  std::vector<Event> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<Box> Boxes() {
    std::lock_guard lock(mutex_);
    return boxes_;
  }
  int DeleteCalls() const { return delete_calls_; }
  int EventSourcesOpened() const { return sources_opened_; }

  // Sends a control code the way the SCM does, through the registered handler.
  void SendControl(std::uint32_t code) {
    if (control_) control_(code);
  }

  std::unique_ptr<platform::ScmConnection> OpenScm(std::uint32_t& error) override {
    if (open_scm_error) {
      error = open_scm_error;
      return nullptr;
    }
    return std::make_unique<Connection>(*this);
  }

  std::uint32_t RunDispatcher(const std::vector<std::string>& names, platform::ServiceEntry entry) override {
    if (dispatcher_error) return dispatcher_error;
    entry(dispatcher_args.empty() ? std::vector<std::string>{names.front()} : dispatcher_args);
    return 0;
  }

  bool RegisterControlHandler(const std::string&, platform::ControlCallback callback, std::uint32_t& error) override {
    if (register_handler_error) {
      error = register_handler_error;
      return false;
    }
    control_ = callback;
    return true;
  }

  bool SetStatus(const platform::ServiceStatus& status, std::uint32_t& error) override {
    {
      std::lock_guard lock(mutex_);
      statuses_.push_back(status);
    }
    auto [first, last] = controls_on_state.equal_range(status.current_state);
    std::vector<std::uint32_t> codes;
    for (auto it = first; it != last; ++it) codes.push_back(it->second);
    controls_on_state.erase(first, last);
    for (std::uint32_t code : codes) SendControl(code);
    if (set_status_error) {
      error = set_status_error;
      return false;
    }
    return true;
  }

  std::unique_ptr<platform::ControlQueue> MakeControlQueue() override {
    return std::make_unique<platform::MemoryControlQueue>();
  }

  std::unique_ptr<platform::MessageLoop> MakeMessageLoop() override { return std::make_unique<Loop>(); }

  std::unique_ptr<platform::EventSource> OpenEventSource(const std::string& name) override {
    ++sources_opened_;
    return std::make_unique<Source>(*this, name);
  }

  void ShowMessageBox(const std::string& title, const std::string& text, platform::BoxKind kind) override {
    std::lock_guard lock(mutex_);
    boxes_.push_back({title, text, kind});
  }

  std::string SystemErrorText(std::uint32_t code) override { return "text of " + std::to_string(code); }
  std::string ModuleFileName() override { return module_path; }
  bool UnknownWordsRunTheService() const override { return unknown_words_run; }

 private:
  class Handle final : public platform::ServiceHandle {
   public:
    Handle(FakeServiceControl& f, std::string name) : f_(f), name_(std::move(name)) {}
    bool Delete(std::uint32_t& error) override {
      ++f_.delete_calls_;
      if (f_.delete_error) {
        error = f_.delete_error;
        return false;
      }
      f_.services.erase(name_);
      f_.recovery.erase(name_);
      return true;
    }
    bool SetRecoveryActions(const platform::RecoveryActions& actions, std::uint32_t& error) override {
      if (f_.recovery_error) {
        error = f_.recovery_error;
        return false;
      }
      f_.recovery[name_] = actions;
      return true;
    }

   private:
    FakeServiceControl& f_;
    std::string name_;
  };

  class Connection final : public platform::ScmConnection {
   public:
    explicit Connection(FakeServiceControl& f) : f_(f) {}
    std::unique_ptr<platform::ServiceHandle> Create(const platform::ServiceConfig& c, std::uint32_t&,
                                                    std::uint32_t& error) override {
      if (f_.services.count(c.name)) {
        error = 1073;
        return nullptr;
      }
      f_.services[c.name] = c;
      return std::make_unique<Handle>(f_, c.name);
    }
    std::unique_ptr<platform::ServiceHandle> Open(const std::string& name, std::uint32_t& error) override {
      if (!f_.services.count(name)) {
        error = 1060;
        return nullptr;
      }
      return std::make_unique<Handle>(f_, name);
    }

   private:
    FakeServiceControl& f_;
  };

  class Loop final : public platform::MessageLoop {
   public:
    void Run() override { queue_.Next(true, code_); }
    void Quit() override { queue_.PostQuit(); }
    Loop() { queue_.Create(); }

   private:
    platform::MemoryControlQueue queue_;
    std::uint32_t code_ = 0;
  };

  class Source final : public platform::EventSource {
   public:
    Source(FakeServiceControl& f, std::string name) : f_(f), name_(std::move(name)) {}
    void ReportError(const std::string& text) override {
      std::lock_guard lock(f_.mutex_);
      f_.events_.push_back({name_, text, 0, platform::EventType::Error, {text}});
    }
    void Report(const platform::EventRecord& e) override {
      std::lock_guard lock(f_.mutex_);
      f_.events_.push_back({name_, e.text, e.id, e.type, e.strings});
    }

   private:
    FakeServiceControl& f_;
    std::string name_;
  };

  std::mutex mutex_;
  std::vector<platform::ServiceStatus> statuses_;
  std::vector<Event> events_;
  std::vector<Box> boxes_;
  platform::ControlCallback control_ = nullptr;
  int delete_calls_ = 0;
  int sources_opened_ = 0;
};

}  // namespace qov::test
