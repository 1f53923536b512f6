// Exceptions caught as the collector's events write them: the class name and the message.
// Stateless; safe from any thread.
#pragma once

#include <functional>
#include <string>

namespace collector {

// An exception caught: its class name as events write it ("Exception" for one from outside the
// run-time's classes), and its message.
struct TCaught {
  const char* ClassName = "Exception";
  std::string Message;
};

// Runs body; true when it returned, false with what it raised in caught.
bool Succeeds(const std::function<void()>& body, TCaught& caught);

}  // namespace collector
