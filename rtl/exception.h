// Exceptions of the run-time. Every exception class reports its own class name, since handlers
// write it into events and message boxes ("... System Error " + ClassName() + " : " + Message).
// Values, copyable; safe to throw from any thread.
#pragma once

#include <exception>
#include <string>

namespace rtl {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  ~Exception() override = default;

  // The class name as the system publishes it ("Exception", "ESocketException", ...).
  virtual const char* ClassName() const { return "Exception"; }
  const char* what() const noexcept override { return Message.c_str(); }

  std::string Message;
};

}  // namespace rtl

// Declares an exception class that derives from Base and reports Name as its class name.
#define RTL_DECLARE_EXCEPTION(Name, Base)                    \
  class Name : public Base {                                 \
    using BaseType = Base;                                   \
                                                             \
   public:                                                   \
    using BaseType::BaseType;                                \
    const char* ClassName() const override { return #Name; } \
  }

namespace rtl {

// File input/output failed; ErrorCode is the errno of the failing call (0 when none).
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  const char* ClassName() const override { return "EInOutError"; }
  int ErrorCode;
};

// An operating-system call failed; ErrorCode is the system's error code.
class EOSError : public Exception {
 public:
  EOSError(std::string message, unsigned errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  const char* ClassName() const override { return "EOSError"; }
  unsigned ErrorCode;
};

RTL_DECLARE_EXCEPTION(EConvertError, Exception);
RTL_DECLARE_EXCEPTION(EListError, Exception);
RTL_DECLARE_EXCEPTION(EStringListError, Exception);

}  // namespace rtl
