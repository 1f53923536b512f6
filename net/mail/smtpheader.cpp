#include "net/mail/smtpheader.h"

#include <cstdio>

#include "net/mail/smtpaddress.h"
#include "net/mail/smtplimits.h"
#include "rtl/cp932.h"
#include "rtl/datetime.h"

using net::mail::CharSetOf;
using net::mail::FoldHdrLine;
using net::mail::HdrEncodeInLine;
using net::mail::NeedsEncoding;
using net::mail::NextPiece;
using net::mail::TCharSet;

namespace {

constexpr int kSubjectWordWidth = 66;
constexpr int64_t kMicrosPerSecond = 1000000;

char EncodedWordType(const TSmtpHeaderFields& f) {
  return f.DefaultEncoding == smtpEncBase64 ? 'B' : 'Q';
}

// Seconds since the epoch of a broken-down time read as UTC.
int64_t EpochSecondsOfUtc(const rtl::TSystemTime& t) {
  constexpr int64_t kUnixEpochDays = 25569;  // 1970-01-01 as a date-time
  const auto days = static_cast<int64_t>(rtl::EncodeDate(t.Year, t.Month, t.Day)) - kUnixEpochDays;
  return days * 86400 + t.Hour * 3600 + t.Minute * 60 + t.Second;
}

void AddPriorityLines(TSmtpPriority priority, rtl::TStringList& Lines) {
  if (priority == smtpPriorityNone) return;
  Lines.Add("X-Priority: " + std::to_string(static_cast<int>(priority)));
  switch (priority) {
    case smtpPriorityHighest:
    case smtpPriorityHigh:
      Lines.Add("Priority: urgent");
      Lines.Add("X-MSMail-Priority: High");
      break;
    case smtpPriorityNormal:
      Lines.Add("Priority: Normal");
      Lines.Add("X-MSMail-Priority: Normal");
      break;
    default:
      Lines.Add("Priority: non-urgent");
      Lines.Add("X-MSMail-Priority: Low");
      break;
  }
}

void AddSubject(const TSmtpHeaderFields& f, rtl::TStringList& Lines) {
  const std::string subject = BlankLineBreaks(f.HdrSubject);
  if (f.Allow8bitChars && !f.FoldHeaders) {
    Lines.Add("Subject: " + rtl::Trim(subject));
  } else if (!f.Allow8bitChars && NeedsEncoding(subject)) {
    Lines.Add("Subject: " + HdrEncodeInLine(subject, SmtpHeaderSpecials(), EncodedWordType(f),
                                            f.FoldHeaders, kSubjectWordWidth, f.CharSet));
  } else {
    FoldHdrLine(Lines, "Subject: " + subject);
  }
}

}  // namespace

const TCharSet& SmtpHeaderSpecials() {
  static const TCharSet specials = CharSetOf("\"(),.:;<>@[\\]");
  return specials;
}

void AddAddressHeader(const TSmtpHeaderFields& f, std::string_view Name, std::string_view Value,
                      rtl::TStringList& Lines) {
  const std::string value = BlankLineBreaks(Value);
  if (f.Allow8bitChars && !f.FoldHeaders) {
    Lines.Add(std::string(Name) + " " + rtl::Trim(value));
    return;
  }
  static const TCharSet kBreaks = CharSetOf(",;");
  static const TCharSet kQuotes = CharSetOf("\"'");
  std::string list;
  int pos = 1;
  while (pos <= static_cast<int>(value.size())) {
    std::string item = NextPiece(value, "\r\n", kBreaks, pos, kQuotes, 1);
    size_t start = item.find_first_not_of(" \t");
    item.erase(0, start == std::string::npos ? item.size() : start);
    while (!item.empty() && (item.back() == ',' || item.back() == ';'))
      item.pop_back();
    if (item.empty()) continue;
    std::string name, address;
    ParseAddress(item, name, address);
    if (name.empty()) {
      list += address + ",";
      continue;
    }
    if (!f.Allow8bitChars && NeedsEncoding(name))
      name = HdrEncodeInLine(name, SmtpHeaderSpecials(), EncodedWordType(f), f.FoldHeaders,
                             kSmtpLineWidth - static_cast<int>(Name.size()), f.CharSet);
    else
      name = QuotedHeaderText(name);
    list += name + " <" + address + ">,";
  }
  while (!list.empty() && list.back() == ',')
    list.pop_back();
  const std::string line = rtl::Trim(std::string(Name) + " " + rtl::Trim(list));
  if (f.FoldHeaders && static_cast<int>(line.size()) > kSmtpLineWidth)
    FoldHdrLine(Lines, line);
  else
    Lines.Add(line);
}

void BuildSmtpHeaderLines(const TSmtpHeaderFields& f, std::string_view dateText,
                          std::string_view messageId, rtl::TStringList& Lines) {
  const std::pair<const char*, const std::string*> addressHeaders[] = {
      {"Reply-To:", &f.HdrReplyTo},
      {"Return-Path:", &f.HdrReturnPath},
      {"From:", &f.HdrFrom},
      {"To:", &f.HdrTo},
      {"Cc:", &f.HdrCc},
  };
  for (const auto& [name, value] : addressHeaders)
    if (!rtl::Trim(BlankLineBreaks(*value)).empty()) AddAddressHeader(f, name, *value, Lines);
  AddSubject(f, Lines);
  const std::string& sender = f.HdrSender.empty() ? f.HdrFrom : f.HdrSender;
  if (!rtl::Trim(BlankLineBreaks(sender)).empty()) AddAddressHeader(f, "Sender:", sender, Lines);
  Lines.Add("Mime-Version: 1.0");
  Lines.Add("Content-Type: " + f.MimeType + "; charset=\"" + BlankLineBreaks(f.CharSet) + "\"");
  Lines.Add("Date: " + std::string(dateText));
  AddPriorityLines(f.HdrPriority, Lines);
  Lines.Add("Message-ID: <" + std::string(messageId) + ">");
  if (f.ConfirmReceipt && !rtl::Trim(BlankLineBreaks(f.HdrFrom)).empty())
    AddAddressHeader(f, "Disposition-Notification-To:", f.HdrFrom, Lines);
  Lines.Add("X-Mailer: Kelvadon SMTP Component V" + std::to_string(kSmtpVersionMajor) + "." +
            std::to_string(kSmtpVersionMinor));
}

bool LocalZoneBias(int64_t epochMicros, int& biasMinutes) {
  try {
    const int64_t seconds = epochMicros >= 0
                                ? epochMicros / kMicrosPerSecond
                                : -((-epochMicros + kMicrosPerSecond - 1) / kMicrosPerSecond);
    const rtl::TSystemTime local = rtl::LocalTimeOf(seconds * kMicrosPerSecond);
    // The local clock reading taken as UTC is ahead of the instant by the zone's offset.
    biasMinutes = static_cast<int>((seconds - EpochSecondsOfUtc(local)) / 60);
    return true;
  } catch (const rtl::Exception&) {
    return false;
  }
}

std::string SmtpZoneSuffix(bool known, int biasMinutes) {
  if (!known) return "-0000";
  const int magnitude = biasMinutes < 0 ? -biasMinutes : biasMinutes;
  char text[16];
  std::snprintf(text, sizeof text, "-%.2d%.2d", magnitude / 60 % 100, magnitude % 60);
  if (biasMinutes < 0) text[0] = '+';
  return text;
}

std::string SmtpDateText(int64_t epochMicros) {
  int bias = 0;
  const bool known = LocalZoneBias(epochMicros, bias);
  const rtl::TDateTime local = rtl::EpochMicrosToDateTime(epochMicros);
  return rtl::FormatDateTime("ddd, d mmm yyyy hh\":\"nn\":\"ss", local) + " " +
         SmtpZoneSuffix(known, bias);
}

std::string SmtpMessageId(int64_t epochMicros, std::mt19937& random, std::string_view hostName) {
  int bias = 0;
  if (!LocalZoneBias(epochMicros, bias)) bias = 0;
  const rtl::TDateTime utc = rtl::EpochMicrosToDateTime(epochMicros) + bias / 1440.0;
  std::string id = rtl::FormatDateTime("yyyymmddhhnnsszzz", utc) + ".";
  std::uniform_int_distribution<int> below(0, 0x7FFE);
  for (int i = 0; i < 4; ++i) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%.4X", below(random));
    id += hex;
  }
  return id + "@" + std::string(hostName);
}
