#include "collector/caught.h"

#include <exception>

#include "rtl/exception.h"

namespace collector {

bool Succeeds(const std::function<void()>& body, TCaught& caught) {
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
