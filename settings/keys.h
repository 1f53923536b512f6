// The sections and keys of the shared settings file "KelvadonMan.ini" with their defaults, and
// the rules for the values that are not plain text (flags, the alert text). The collector and
// the console both read and write the file through these, so neither spells a name of its own.
// Constants and pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>

class TIniFileCompo;

namespace settings {

// The settings file, in the program folder next to both programs.
inline constexpr char kIniFileName[] = "KelvadonMan.ini";

inline constexpr char kSectionManager[] = "KelvadonManager";
inline constexpr char kSectionMailEnv[] = "MailEnv";
inline constexpr char kSectionMail[] = "Mail";

// One key: its section, its name and the value a read gives when the key is missing (a key that
// is present with an empty value reads as empty).
struct KeyDef {
  const char* Section;
  const char* Ident;
  const char* Default;
};

// Collector TCP and UDP port, decimal text. Written by none of the programs.
inline constexpr KeyDef kPort{kSectionManager, "Port", "4016"};

// Mail environment, written by the console.
inline constexpr KeyDef kSmtpServer{kSectionMailEnv, "SmtpServer", ""};
inline constexpr KeyDef kSmtpPort{kSectionMailEnv, "SmtpPort", "25"};
inline constexpr KeyDef kFromMail{kSectionMailEnv, "FromMail", ""};
// Recipients: a comma list (commas and blanks separate, double quotes group).
inline constexpr KeyDef kToMail{kSectionMailEnv, "ToMail", ""};
// Flag: log in to POP3 before sending.
inline constexpr KeyDef kPopBeforeSmtp{kSectionMailEnv, "PopBeforeSmtp", "0"};
// The four POP keys are written only when PopBeforeSmtp is saved as "1"; otherwise they keep
// their last saved values.
inline constexpr KeyDef kPopServer{kSectionMailEnv, "PopServer", ""};
inline constexpr KeyDef kPopPort{kSectionMailEnv, "PopPort", "110"};
inline constexpr KeyDef kPopUser{kSectionMailEnv, "PopUser", ""};
// The POP3 password as EncryptSetting stores it (empty password: empty value).
inline constexpr KeyDef kPopPasswd{kSectionMailEnv, "PopPasswd", ""};
// Flag: mail the daily report.
inline constexpr KeyDef kReportSend{kSectionMailEnv, "ReportSend", "0"};

// Alert rules "Word1" to "Word5" (each a comma list of terms), the alert text and a subject that
// no mail uses.
inline constexpr int kWordCount = 5;
inline constexpr KeyDef kWord[kWordCount] = {
    {kSectionMail, "Word1", ""}, {kSectionMail, "Word2", ""}, {kSectionMail, "Word3", ""},
    {kSectionMail, "Word4", ""}, {kSectionMail, "Word5", ""},
};
inline constexpr KeyDef kBody{kSectionMail, "Body", ""};
inline constexpr KeyDef kSubject{kSectionMail, "Subject", ""};

// Flag values as the console writes them.
inline constexpr char kFlagOn[] = "1";
inline constexpr char kFlagOff[] = "0";

// The collector's reading of a flag: only "1" is on (any other value, a missing key's default
// included, is off).
inline bool ServiceFlagOn(std::string_view value) {
  return value == kFlagOn;
}

// The console's reading of a flag: only "0" is off, any other value is on.
inline bool ConsoleFlagOn(std::string_view value) {
  return value != kFlagOff;
}

// The flag text for on or off.
inline const char* FlagText(bool on) {
  return on ? kFlagOn : kFlagOff;
}

// The alert text as stored: every CR LF of text becomes one TAB (0x09).
std::string BodyToSetting(std::string_view text);

// The stored alert text read back: every TAB becomes CR LF (so a TAB typed into the text comes
// back as a line break).
std::string BodyFromSetting(std::string_view value);

// key's value from ini, or its default when the key is missing.
std::string ReadSetting(const TIniFileCompo& ini, const KeyDef& key);

// Writes value to key through ini (to disk at once when its UpdateAtOnce is set; raises as
// TIniFileCompo::WriteString does).
void WriteSetting(TIniFileCompo& ini, const KeyDef& key, std::string_view value);

}  // namespace settings
