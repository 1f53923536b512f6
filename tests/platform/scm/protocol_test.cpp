// The protocol's payloads and frames: what is written reads back, and no input, however cut or
// inflated, is read past its end.
#include "platform/scm/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

namespace scm {
namespace {

ServiceConfig SampleConfig() {
  ServiceConfig c;
  c.name = "KelvadonManager";
  c.displayName = "\x83\x5C\x83\x74\x83\x67 display";  // CP932 with a 0x5C trail byte
  c.serviceType = kWin32OwnProcess | kInteractiveProcess;
  c.startType = kAutoStart;
  c.errorControl = 3;
  c.binaryPathName = "\"/opt/kelvadon/KelvadonService\" -x";
  c.loadOrderGroup = "group";
  c.tagId = 7;
  c.dependencies = {"A", "", "B\nC"};
  c.serviceStartName = ".\\LocalSystem";
  return c;
}

FailureActions SampleFailure() {
  FailureActions f;
  f.resetPeriod = 0xFFFFFFFF;
  f.rebootMessage = "reboot, sorry";
  f.command = "/bin/echo failed";
  f.actions = {{kActionRestart, 1000}, {kActionRunCommand, 0}, {kActionReboot, 60000}};
  return f;
}

// Each sample writes a payload and checks that it reads back equal.
struct Sample {
  const char* name;
  std::function<void(Writer&)> write;
  std::function<bool(Reader&)> readAndCheck;
};

std::vector<Sample> Samples() {
  ServiceStatus status{kWin32OwnProcess, kServicePaused, 7, 1066, 42, 3, 5000, 1234};
  ConfigChange change;
  change.startType = kDisabled;
  change.binaryPathName = "";
  change.dependencies = std::vector<std::string>{};
  change.password = "pass word";
  change.displayName = "new";
  FailureActionsChange fchange;
  fchange.resetPeriod = 86400;
  fchange.command = "";
  fchange.actions = std::vector<Action>{{kActionRestart, 5}};
  return {
      {"status", [=](Writer& w) { w.Status(status); },
       [=](Reader& r) {
         ServiceStatus s;
         return r.Status(s) && s == status;
       }},
      {"config", [](Writer& w) { w.Config(SampleConfig()); },
       [](Reader& r) {
         ServiceConfig c;
         return r.Config(c) && c == SampleConfig();
       }},
      {"change", [=](Writer& w) { w.Change(change); },
       [=](Reader& r) {
         ConfigChange c;
         return r.Change(c) && c.serviceType == kNoChange && c.startType == kDisabled &&
                c.binaryPathName == std::optional<std::string>("") && !c.loadOrderGroup &&
                c.dependencies && c.dependencies->empty() && !c.serviceStartName &&
                c.password == std::optional<std::string>("pass word") &&
                c.displayName == std::optional<std::string>("new");
       }},
      {"failure", [](Writer& w) { w.Failure(SampleFailure()); },
       [](Reader& r) {
         FailureActions f;
         return r.Failure(f) && f == SampleFailure();
       }},
      {"failure change", [=](Writer& w) { w.FailureChange(fchange); },
       [=](Reader& r) {
         FailureActionsChange f;
         return r.FailureChange(f) && f.resetPeriod == 86400 && !f.rebootMessage &&
                f.command == std::optional<std::string>("") && f.actions &&
                *f.actions == std::vector<Action>{{kActionRestart, 5}};
       }},
      {"texts", [](Writer& w) { w.Str(std::string("a\0b", 3)).OptStr(std::nullopt).Strs({"x"}); },
       [](Reader& r) {
         std::string s;
         std::optional<std::string> o = "set";
         std::vector<std::string> l;
         return r.Str(s, 10) && s == std::string("a\0b", 3) && r.OptStr(o, 10) && !o &&
                r.Strs(l, 4, 4) && l == std::vector<std::string>{"x"};
       }},
  };
}

TEST(ProtocolPayload, EverySampleReadsBackWhole) {
  for (const auto& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    Writer w;
    sample.write(w);
    Reader r(w.Payload());
    EXPECT_TRUE(sample.readAndCheck(r));
    EXPECT_TRUE(r.AtEnd());
  }
}

TEST(ProtocolPayload, EveryCutOfASampleFailsWithoutReadingPastItsEnd) {
  for (const auto& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    Writer w;
    sample.write(w);
    const std::string& full = w.Payload();
    for (size_t n = 0; n < full.size(); ++n) {
      // A copy of exactly n bytes: the sanitizer sees any read beyond it.
      const std::string cut = full.substr(0, n);
      std::unique_ptr<char[]> exact(new char[n ? n : 1]);
      std::memcpy(exact.get(), cut.data(), n);
      Reader r(std::string_view(exact.get(), n));
      EXPECT_FALSE(sample.readAndCheck(r) && r.AtEnd()) << "cut at " << n;
    }
  }
}

TEST(ProtocolPayload, LimitsAreEnforcedAndAFailedReadSticks) {
  Writer w;
  w.Str(std::string(kMaxNameLength + 1, 'x')).U32(5);
  Reader r(w.Payload());
  std::string s;
  EXPECT_FALSE(r.Str(s, kMaxNameLength));
  uint32_t v;
  EXPECT_FALSE(r.U32(v));  // no read after a failure, even of good bytes
  EXPECT_FALSE(r.Ok());

  Writer many;
  many.U32(kMaxActions + 1);
  FailureActions f;
  Reader r2(many.Payload());
  EXPECT_FALSE(r2.Failure(f));

  // A length that claims more than is there.
  Writer lie;
  lie.U32(0xFFFFFFF0u);
  Reader r3(lie.Payload());
  EXPECT_FALSE(r3.Str(s, 0xFFFFFFFFu));

  Writer flag;
  flag.U32(2);
  Reader r4(flag.Payload());
  bool b;
  EXPECT_FALSE(r4.Bool(b));
}

TEST(ProtocolFrames, PayloadsComeOutWholeHoweverTheBytesArrive) {
  const std::string a = "first", b(1000, 'b'), empty;
  const std::string wire = Frame(a) + Frame(empty) + Frame(b);
  for (size_t step : {size_t(1), size_t(3), size_t(7), wire.size()}) {
    SCOPED_TRACE(step);
    FrameBuffer buf;
    std::vector<std::string> got;
    for (size_t pos = 0; pos < wire.size(); pos += step) {
      buf.Append(wire.data() + pos, std::min(step, wire.size() - pos));
      std::string p;
      bool bad = false;
      while (buf.Next(p, bad))
        got.push_back(p);
      ASSERT_FALSE(bad);
    }
    EXPECT_EQ(got, (std::vector<std::string>{a, empty, b}));
    EXPECT_EQ(buf.Pending(), 0u);
  }
}

TEST(ProtocolFrames, AnOversizedFrameIsRefusedBeforeItsBytesArrive) {
  std::string head = Frame(std::string(0, 'x'));
  const uint32_t n = kMaxFrame + 1;
  head[0] = char(n & 0xFF);
  head[1] = char((n >> 8) & 0xFF);
  head[2] = char((n >> 16) & 0xFF);
  head[3] = char((n >> 24) & 0xFF);
  FrameBuffer buf;
  buf.Append(head.data(), head.size());
  std::string p;
  bool bad = false;
  EXPECT_FALSE(buf.Next(p, bad));
  EXPECT_TRUE(bad);
}

TEST(ProtocolNames, KeysFoldAsciiButNeverATrailByte) {
  EXPECT_EQ(NameKey("KelvadonManager"), NameKey("kelvadonmanager"));
  // 0x82 0x61 is one double-byte character whose trail byte looks like "a".
  EXPECT_EQ(NameKey("\x82\x61z"), "\x82\x61Z");
  EXPECT_NE(NameKey("\x82\x61"), NameKey("\x82\x41"));
}

}  // namespace
}  // namespace scm
