// The header of an outgoing message: the header lines built from the client's header fields, the
// Date text with the local zone's offset, and the Message-ID. Pure functions (the time and the
// random numbers come in as arguments), safe from any thread; local time honours TZ.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "net/mail/mime.h"
#include "net/mail/smtptypes.h"
#include "rtl/classes.h"

// What the header lines are made of: the client's header properties and settings.
struct TSmtpHeaderFields {
  std::string HdrFrom, HdrTo, HdrCc, HdrReplyTo, HdrReturnPath, HdrSubject, HdrSender;
  TSmtpPriority HdrPriority = smtpPriorityNone;
  bool ConfirmReceipt = false;
  bool Allow8bitChars = true;
  bool FoldHeaders = false;
  TSmtpDefaultEncoding DefaultEncoding = smtpEnc7bit;
  std::string CharSet = "iso-8859-1";
  std::string MimeType = "text/plain";  // "text/plain" or "text/html"
};

// The bytes that encoded words in header values always encode: double quote ( ) , . : ; < > @ [
// \ ].
const net::mail::TCharSet& SmtpHeaderSpecials();

// Appends the header lines of a message to Lines, in this order: Reply-To, Return-Path, From, To,
// Cc (each only when its value is not blank), Subject (always), Sender (HdrSender, else HdrFrom;
// none when both are blank), Mime-Version, Content-Type with the quoted charset, "Date: " +
// dateText, the priority lines (unless smtpPriorityNone), "Message-ID: <" + messageId + ">",
// Disposition-Notification-To (ConfirmReceipt with a HdrFrom) and X-Mailer. CR and LF in the
// values become blanks. Raises rtl::Exception for an unusable CharSet when a value has to be
// encoded (net/mail/mime.h, HdrEncodeInLine).
void BuildSmtpHeaderLines(const TSmtpHeaderFields& f, std::string_view dateText,
                          std::string_view messageId, rtl::TStringList& Lines);

// Appends the header line Name (with its colon) for the address list Value, by the address-list
// rule: every item split into a display name and address; a name that needs encoding becomes
// encoded words unless 8-bit bytes are allowed, any other name is quoted; folded when FoldHeaders
// is set and the line is longer than 76.
void AddAddressHeader(const TSmtpHeaderFields& f, std::string_view Name, std::string_view Value,
                      rtl::TStringList& Lines);

// The local zone's bias at the instant epochMicros (UTC minus local time, in minutes: Tokyo -540,
// New York 300 in winter); false when local time cannot be had for that instant.
bool LocalZoneBias(int64_t epochMicros, int& biasMinutes);

// The zone suffix of a Date text: "-hhmm" of the bias's absolute value, "+hhmm" east of Greenwich
// (negative bias), and "-0000" when the bias is unknown.
std::string SmtpZoneSuffix(bool known, int biasMinutes);

// "ddd, d mmm yyyy hh:nn:ss" of the local time at epochMicros, in English whatever the locale,
// followed by a blank and the zone suffix.
std::string SmtpDateText(int64_t epochMicros);

// A new Message-ID (without angle brackets): the time at epochMicros in UTC as
// "yyyymmddhhnnsszzz", ".", four numbers below 32767 from random as four upper-case hexadecimal
// digits each, "@" and hostName.
std::string SmtpMessageId(int64_t epochMicros, std::mt19937& random, std::string_view hostName);
