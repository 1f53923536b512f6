// Exceptions caught as the collector's events write them: the class name and the message.
// Stateless; safe from any thread.
#pragma once

#include <exception>
#include <string>

#include "rtl/exception.h"

namespace collector {

// An exception caught: its class name as events write it ("Exception" for one from outside the
// run-time's classes), and its message.
struct TCaught {
  const char* ClassName = "Exception";
  std::string Message;
};

// Runs body; true when it returned, false with what it raised in caught. A template, so that a
// body runs without a function object made for it (this is on every record's path).
template <typename Body>
bool Succeeds(Body&& body, TCaught& caught) {
  try {
    body();
    return true;
  } catch (const rtl::Exception& E) {
    caught = {E.ClassName(), E.Message};
  } catch (const std::exception& e) {
    caught = {"Exception", e.what()};
  }
  return false;
}

}  // namespace collector
