#include "service/run_workers.h"

#include <exception>
#include <utility>

namespace qov::service {

RunWorkers::RunWorkers(MakeControl make_control, MakeChecker make_checker, platform::ThreadStarter start_thread)
    : make_control_(std::move(make_control)),
      make_checker_(std::move(make_checker)),
      start_thread_(std::move(start_thread)) {}

RunWorkers::~RunWorkers() {
  checker_.reset();
  control_.reset();
}

bool RunWorkers::Launch(platform::WorkerThread& worker, std::string& error) {
  try {
    start_thread_(worker);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

using supervision::StartOutcome;

StartOutcome RunWorkers::StartControlThread(std::string& error) {
  std::lock_guard lock(mutex_);
  if (!open_) return StartOutcome::kStopping;
  if (control_made_) return StartOutcome::kRunning;
  std::unique_ptr<device::TQOVControlThread> made = make_control_ ? make_control_() : nullptr;
  if (made && !Launch(*made, error)) return StartOutcome::kFailed;
  control_ = std::move(made);
  control_made_ = true;
  return StartOutcome::kRunning;
}

StartOutcome RunWorkers::StartChecker(std::string& error) {
  std::lock_guard lock(mutex_);
  if (!open_) return StartOutcome::kStopping;
  if (checker_made_) return StartOutcome::kRunning;
  std::unique_ptr<supervision::TOSMonitorThread> made = make_checker_ ? make_checker_(control_.get()) : nullptr;
  if (made && !Launch(*made, error)) return StartOutcome::kFailed;
  checker_ = std::move(made);
  checker_made_ = true;
  return StartOutcome::kRunning;
}

const char* RunWorkers::StuckWorker(platform::Tick now) {
  std::lock_guard lock(mutex_);
  if (control_ && control_->ProgressOverdue(now)) return "control thread";
  if (checker_ && checker_->ProgressOverdue(now)) return "checker thread";
  return nullptr;
}

device::TQOVControlThread* RunWorkers::StartedControl() {
  std::lock_guard lock(mutex_);
  return control_.get();
}

void RunWorkers::CloseGate() {
  std::lock_guard lock(mutex_);
  open_ = false;
}

platform::Stoppable* RunWorkers::ReceiverOfEndedControl() {
  return control_ && control_->WaitFor(0) ? control_->Receiver() : nullptr;
}

}  // namespace qov::service
