// One event-log source: registered with the first message, deregistered
// when the logger goes.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/service_control.h"

namespace qov::service {

class TEventLogger {
 public:
  TEventLogger(platform::ServiceControl& sc, std::string source) : sc_(sc), source_name_(std::move(source)) {}

  // From any thread of the host; the source is registered once.
  // An error event (ID 0) whose one string is the whole text.
  void LogMessage(const std::string& text) {
    std::lock_guard lock(mutex_);
    Source().ReportError(text);
  }
  // An event of the message table.
  void Report(const platform::EventRecord& event) {
    std::lock_guard lock(mutex_);
    Source().Report(event);
  }

 private:
  // Under the mutex.
  platform::EventSource& Source() {
    if (!source_) source_ = sc_.OpenEventSource(source_name_);
    return *source_;
  }

  platform::ServiceControl& sc_;
  std::string source_name_;
  std::mutex mutex_;
  std::unique_ptr<platform::EventSource> source_;
};

}  // namespace qov::service
