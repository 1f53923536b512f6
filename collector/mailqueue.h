// The collector's mail jobs and their queue. A record that fires alert rules queues one job, a
// change of day the report and the restart; the queue sends them one at a time on the thread that
// made it, each started by a message posted to the queue's own hidden window, so a job never
// starts inside the handler that queued it nor inside another job: records that arrive while a
// mail waits on its server are read, written and, when they fire rules, only queued.
//
// Ownership and threads: the queue owns its jobs and its window; every call, and every job, runs
// on the thread that made the queue, which must handle its messages.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

#include "platform/msg/msg.h"

class TSyncSmtpCli;
namespace net::mail {
class TSyncPop3Cli;
}

namespace collector {

// One mail (or series of mails) to send.
class TMailJob {
 public:
  virtual ~TMailJob() = default;
  // The handler name a failure of the job is written under ("ChkRecvString" for alerts).
  virtual const char* Word() const = 0;
  // Sends through the clients (borrowed), waiting on them while the thread's other messages are
  // handled. Raises on the first failure; the caller then aborts both clients.
  virtual void Send(TSyncSmtpCli& Smtp, net::mail::TSyncPop3Cli& Pop) = 0;
};

class TMailJobQueue {
 public:
  // Run sends one job and handles its failure; it must not raise.
  using TRunner = std::function<void(TMailJob&)>;
  explicit TMailJobQueue(TRunner Run);
  // Drops the jobs still waiting. REQUIRES: no job is running.
  ~TMailJobQueue();
  TMailJobQueue(const TMailJobQueue&) = delete;
  TMailJobQueue& operator=(const TMailJobQueue&) = delete;

  // Queues Job and, unless a job runs or a start is already posted, posts the start of the next
  // one. False, and Job is dropped, when kMaxWaitingMailJobs jobs wait already (the running one
  // does not count).
  bool Add(std::unique_ptr<TMailJob> Job);
  // Queues Job as Add does, whatever the number of jobs waiting (the jobs of a day change, which
  // come at most twice a day).
  void AddAlways(std::unique_ptr<TMailJob> Job);

  // From now on posted starts run nothing: only RunRemaining sends what waits (a stop).
  void Hold() { held_ = true; }

  size_t Waiting() const { return jobs_.size(); }
  bool Running() const { return running_; }

  // For a stop: runs the waiting jobs one after the other, calling Progress after each, until none
  // is left or Expired() is true; the jobs left then are dropped. Returns how many were dropped.
  // Jobs queued meanwhile (records read during a mail's wait) are run too. REQUIRES: not called
  // from inside a job (else nothing runs and every waiting job is dropped).
  size_t RunRemaining(const std::function<bool()>& Expired, const std::function<void()>& Progress);

 private:
  void WindowProcedure(TMessage& Msg);
  void PostStart();
  // Takes the first waiting job and runs it.
  void RunFirst();

  TRunner run_;
  HWND window_;
  std::deque<std::unique_ptr<TMailJob>> jobs_;
  bool running_ = false;
  bool startPosted_ = false;
  bool held_ = false;
};

}  // namespace collector
