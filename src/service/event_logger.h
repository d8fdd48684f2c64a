// One event-log source: registered with the first message, deregistered
// when the logger goes. Every message is an error event.
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
  void LogMessage(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!source_) source_ = sc_.OpenEventSource(source_name_);
    source_->ReportError(text);
  }

 private:
  platform::ServiceControl& sc_;
  std::string source_name_;
  std::mutex mutex_;
  std::unique_ptr<platform::EventSource> source_;
};

}  // namespace qov::service
