#include "collector/mailqueue.h"

#include "collector/maillimits.h"

namespace collector {

namespace {

constexpr UINT WM_MAIL_JOB_START = WM_USER + 1;

}  // namespace

TMailJobQueue::TMailJobQueue(TRunner Run)
    : run_(std::move(Run)), window_(AllocateHWnd([this](TMessage& m) { WindowProcedure(m); })) {}

TMailJobQueue::~TMailJobQueue() {
  DeallocateHWnd(window_);
}

bool TMailJobQueue::Add(std::unique_ptr<TMailJob> Job) {
  if (jobs_.size() >= kMaxWaitingMailJobs) return false;
  AddAlways(std::move(Job));
  return true;
}

void TMailJobQueue::AddAlways(std::unique_ptr<TMailJob> Job) {
  jobs_.push_back(std::move(Job));
  if (!running_ && !held_) PostStart();
}

void TMailJobQueue::PostStart() {
  if (startPosted_) return;
  startPosted_ = PostMessage(window_, WM_MAIL_JOB_START, 0, 0) != FALSE;
}

void TMailJobQueue::WindowProcedure(TMessage& Msg) {
  if (Msg.Msg != WM_MAIL_JOB_START) return;
  startPosted_ = false;
  // Never inside another job: the running one posts the next start when it ends.
  if (running_ || held_ || jobs_.empty()) return;
  RunFirst();
  if (!jobs_.empty()) PostStart();
}

void TMailJobQueue::RunFirst() {
  std::unique_ptr<TMailJob> job = std::move(jobs_.front());
  jobs_.pop_front();
  running_ = true;
  run_(*job);
  running_ = false;
}

size_t TMailJobQueue::RunRemaining(const std::function<bool()>& Expired,
                                   const std::function<void()>& Progress) {
  if (!running_) {
    while (!jobs_.empty() && !Expired()) {
      RunFirst();
      Progress();
    }
  }
  const size_t dropped = jobs_.size();
  jobs_.clear();
  return dropped;
}

}  // namespace collector
