// The debug logger network components hand their debug lines to. Each line goes to up to three
// destinations: an event handler, the debug output (OutputDebugStringA) and a log file. Several
// components in several threads may share one logger: every operation takes its lock, so lines
// are written whole and in call order; the event handler runs inside the lock.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "rtl/classes.h"
#include "rtl/exception.h"
#include "rtl/files.h"
#include "rtl/set.h"

enum TLogOption {
  loDestEvent,
  loDestFile,
  loDestOutDebug,
  loAddStamp,
  loWsockErr,
  loWsockInfo,
  loWsockDump,
  loSslErr,
  loSslInfo,
  loSslDump,
  loProtSpecErr,
  loProtSpecInfo,
  loProtSpecDump,
};
using TLogOptions = rtl::TSet<TLogOption>;

enum TLogFileOption { lfoAppend, lfoOverwrite };

RTL_DECLARE_EXCEPTION(ELoggerException, rtl::Exception);

using TNetLogEvent =
    std::function<void(rtl::TObject* Sender, TLogOption LogOption, const std::string& Msg)>;

class TNetLogger : public rtl::TComponent {
 public:
  explicit TNetLogger(rtl::TComponent* owner = nullptr);
  ~TNetLogger() override;

  // Writes one line to the destinations the options choose. Raises ELoggerException when the log
  // file cannot be opened ("File name empty" without a name).
  void DoDebugLog(rtl::TObject* Sender, TLogOption LogOption, const std::string& Msg);

  TLogOptions LogOptions() const;
  void SetLogOptions(TLogOptions value);
  std::string LogFileName() const;
  // A different name (case-sensitive) closes the open file; the next file line opens the new one.
  void SetLogFileName(const std::string& value);
  TLogFileOption LogFileOption() const;
  // Takes effect at the next opening.
  void SetLogFileOption(TLogFileOption value);
  void SetOnNetLogEvent(TNetLogEvent handler);

 private:
  void OpenLogFile();   // REQUIRES: lock_ held
  void CloseLogFile();  // REQUIRES: lock_ held

  mutable std::recursive_mutex lock_;
  TLogOptions logOptions_;
  TNetLogEvent onNetLogEvent_;
  std::string logFileName_;
  rtl::TAppendFile logFile_;
  TLogFileOption logFileOption_ = lfoAppend;
  bool destroying_ = false;
};
