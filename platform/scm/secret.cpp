// Wiping texts. Growing a text to its capacity never reallocates it, so the one buffer is zeroed
// whole.
#include "platform/scm/secret.h"

#include <string.h>

namespace scm {

void Wipe(std::string& text) {
  text.resize(text.capacity());
  explicit_bzero(text.data(), text.size());
  text.clear();
}

void Wipe(std::optional<std::string>& text) {
  if (text) Wipe(*text);
}

}  // namespace scm
