#include "net/socket/netlogger.h"

#include "platform/msg/msg.h"
#include "rtl/datetime.h"
#include "rtl/fs.h"

TNetLogger::TNetLogger(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TNetLogger::~TNetLogger() {
  std::lock_guard<std::recursive_mutex> l(lock_);
  destroying_ = true;
  CloseLogFile();
}

TLogOptions TNetLogger::LogOptions() const {
  std::lock_guard<std::recursive_mutex> l(lock_);
  return logOptions_;
}

void TNetLogger::SetLogOptions(TLogOptions value) {
  std::lock_guard<std::recursive_mutex> l(lock_);
  logOptions_ = value;
}

std::string TNetLogger::LogFileName() const {
  std::lock_guard<std::recursive_mutex> l(lock_);
  return logFileName_;
}

void TNetLogger::SetLogFileName(const std::string& value) {
  std::lock_guard<std::recursive_mutex> l(lock_);
  if (value == logFileName_) return;
  logFileName_ = value;
  CloseLogFile();
}

TLogFileOption TNetLogger::LogFileOption() const {
  std::lock_guard<std::recursive_mutex> l(lock_);
  return logFileOption_;
}

void TNetLogger::SetLogFileOption(TLogFileOption value) {
  std::lock_guard<std::recursive_mutex> l(lock_);
  logFileOption_ = value;
}

void TNetLogger::SetOnNetLogEvent(TNetLogEvent handler) {
  std::lock_guard<std::recursive_mutex> l(lock_);
  onNetLogEvent_ = std::move(handler);
}

void TNetLogger::CloseLogFile() {
  logFile_.Close();
}

void TNetLogger::OpenLogFile() {
  CloseLogFile();
  if (logFileName_.empty()) throw ELoggerException("File name empty");
  // Created when missing; every line goes to the end. Overwrite empties the file at each opening.
  const int err = logFile_.Open(logFileName_, logFileOption_ == lfoOverwrite
                                                  ? rtl::TAppendFile::TOpenMode::Overwrite
                                                  : rtl::TAppendFile::TOpenMode::Append);
  if (err != 0) throw ELoggerException(rtl::fs::ErrorText(err));
}

void TNetLogger::DoDebugLog(rtl::TObject* Sender, TLogOption LogOption, const std::string& Msg) {
  std::lock_guard<std::recursive_mutex> l(lock_);
  if (destroying_) return;
  auto text = [&] {
    if (!logOptions_.Contains(loAddStamp)) return Msg;
    return rtl::FormatDateTime("hh:nn:ss:zzz", rtl::Now()) + " " + Msg;
  };
  if (logOptions_.Contains(loDestEvent) && onNetLogEvent_)
    onNetLogEvent_(Sender, LogOption, text());
  if (logOptions_.Contains(loDestOutDebug)) OutputDebugStringA(text().c_str());
  if (logOptions_.Contains(loDestFile)) {
    if (!logFile_.IsOpen()) OpenLogFile();
    // A full disk loses debug lines, never the caller's work.
    (void)logFile_.WriteLine(text(), "\r\n");
  }
}
