// The alert rules' comma lists and their test against a record, the alert text, and the mail
// job queue with jobs that wait as a mail does (handling the thread's messages meanwhile).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collector/alertjob.h"
#include "collector/alertrules.h"
#include "collector/maillimits.h"
#include "collector/mailqueue.h"
#include "net/mail/jcode.h"
#include "net/mail/pop3sync.h"
#include "net/mail/syncsmtp.h"
#include "rtl/cp932.h"
#include "tests/support/pump.h"

namespace collectortest {
namespace {

using collector::CommaList;
using collector::RuleFires;
using Items = std::vector<std::string>;

std::string Bytes(const char* s, size_t n) {
  return std::string(s, n);
}

TEST(CommaListTest, Items) {
  struct Row {
    std::string text;
    Items items;
  } rows[] = {
      {"Copy", {"Copy"}},
      {"a,b", {"a", "b"}},
      {"a b", {"a", "b"}},
      {"  a ,\t b  ", {"a", "b"}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {"a , ", {"a"}},  // the comma is not the last byte
      {",", {"", ""}},
      {"", {}},
      {" \t ", {}},
      {"\"USB DISK\",x", {"USB DISK", "x"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"\"open to the end", {"open to the end"}},
      {"a;b", {"a;b"}},
      {"a@x, b@y", {"a@x", "b@y"}},
      // Bytes 0 separate as blanks do.
      {Bytes("na\0me", 5), {"na", "me"}},
      {Bytes("\0\0a\0", 4), {"a"}},
      {Bytes("\0", 1), {}},
      // A lead byte takes the byte after it, whatever it is; alone at the end it is one byte.
      {"\x82,b", {"\x82,b"}},
      {"abc\x95", {"abc\x95"}},
      {"\"abc\x95", {"abc\x95"}},
      {"\x8c\x78,\x8d\x90", {"\x8c\x78", "\x8d\x90"}},  // 警,告
  };
  for (const Row& r : rows)
    EXPECT_EQ(CommaList(r.text), r.items) << "text: " << r.text;
}

TEST(RuleFiresTest, EveryTermMustOccur) {
  const std::string record =
      "2026/12/10 10:00:00\tCopy\tPC01\t\x89\x63\x8b\xc6\x95\x94\t10.0.0.1\tuser\tE:\t"
      "USB DISK\tE:\\plan.xlsx";
  struct Row {
    std::string rule;
    bool fires;
  } rows[] = {
      {"Copy", true},
      {"Copy,PC01", true},
      {"Copy PC01", true},
      {"Copy,PC02", false},
      {"Copy,,PC01", false},
      {"Copy,", false},
      {"copy", false},
      {"\"USB DISK\"", true},
      {"\"DISK USB\"", false},
      {"DISK USB", true},
      {"\x89\x63\x8b\xc6", true},  // 営業 (Shift-JIS, byte-wise)
      {Bytes("Copy\0PC01", 9), true},
      {"plan.xlsx\x95", false},
      {" ", false},  // nothing but separators: no term, no rule
      {"\"\"", false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(RuleFires(record, CommaList(r.rule)), r.fires) << "rule: " << r.rule;
}

TEST(AlertTextTest, FieldsFilledOnceAndConvertedToJis) {
  // TABs are line breaks; %Word% first, then %SearchLine% (also inside the rule's value); the
  // record's own text is not searched again.
  EXPECT_EQ(collector::AlertText("W=%Word%\tL=%SearchLine%\t%word%", "a,%SearchLine%", "r%Word%"),
            "W=a,r%Word%\r\nL=r%Word%\r\n%word%");
  EXPECT_EQ(collector::AlertText(rtl::Utf8ToCp932("警告 %Word%"), "x", ""),
            net::mail::SjisToJis(rtl::Utf8ToCp932("警告 x")));
}

// A job that logs its start and end and waits as a mail does: it handles the thread's messages
// for a while, after running During (which may queue further jobs) from inside that wait.
class WaitingJob : public collector::TMailJob {
 public:
  WaitingJob(int id, std::vector<std::string>& log, std::function<void()> during = {})
      : id_(id), log_(log), during_(std::move(during)) {}
  const char* Word() const override { return "Test"; }
  void Send(TSyncSmtpCli&, net::mail::TSyncPop3Cli&) override {
    log_.push_back("start " + std::to_string(id_));
    if (during_) during_();
    if (during_) testsupport::PumpFor(100);
    log_.push_back("end " + std::to_string(id_));
  }

 private:
  const int id_;
  std::vector<std::string>& log_;
  const std::function<void()> during_;
};

class MailQueueTest : public ::testing::Test {
 protected:
  // The queue's runner stands in for the engine's: these jobs never touch the clients.
  TSyncSmtpCli smtp;
  net::mail::TSyncPop3Cli pop;
  collector::TMailJobQueue queue{[this](collector::TMailJob& job) { job.Send(smtp, pop); }};
  std::vector<std::string> log;
};

TEST_F(MailQueueTest, OneAtATimeStartedAfterTheQueuingCallReturns) {
  // Jobs queued while job 1 waits wait their turn: none starts inside job 1.
  ASSERT_TRUE(queue.Add(std::make_unique<WaitingJob>(1, log, [&] {
    EXPECT_TRUE(queue.Running());
    EXPECT_TRUE(queue.Add(std::make_unique<WaitingJob>(2, log)));
    EXPECT_TRUE(queue.Add(std::make_unique<WaitingJob>(3, log)));
  })));
  EXPECT_TRUE(log.empty());  // nothing runs inside Add
  ASSERT_TRUE(testsupport::PumpUntil([&] { return log.size() == 6; }));
  EXPECT_EQ(log, (Items{"start 1", "end 1", "start 2", "end 2", "start 3", "end 3"}));
  EXPECT_FALSE(queue.Running());
  EXPECT_EQ(queue.Waiting(), 0u);
}

TEST_F(MailQueueTest, RefusesBeyondTheLimitBehindTheRunningJob) {
  size_t accepted = 0;
  ASSERT_TRUE(queue.Add(std::make_unique<WaitingJob>(0, log, [&] {
    for (size_t i = 0; i < collector::kMaxWaitingMailJobs + 5; ++i)
      accepted += queue.Add(std::make_unique<WaitingJob>(1, log)) ? 1 : 0;
  })));
  ASSERT_TRUE(testsupport::PumpUntil([&] { return log.size() == 2 + 2 * accepted; }));
  EXPECT_EQ(accepted, collector::kMaxWaitingMailJobs);
}

TEST_F(MailQueueTest, HeldQueueRunsOnlyWhatItsStopAllows) {
  queue.Hold();
  for (int i = 1; i <= 3; ++i)
    ASSERT_TRUE(queue.Add(std::make_unique<WaitingJob>(i, log)));
  testsupport::PumpFor(50);
  EXPECT_TRUE(log.empty());  // held: posted starts run nothing
  int progress = 0;
  const size_t dropped = queue.RunRemaining([&] { return progress == 2; }, [&] { ++progress; });
  EXPECT_EQ(dropped, 1u);
  EXPECT_EQ(log, (Items{"start 1", "end 1", "start 2", "end 2"}));
  EXPECT_EQ(queue.Waiting(), 0u);
}

}  // namespace
}  // namespace collectortest
