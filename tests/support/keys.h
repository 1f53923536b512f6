// Settings keys for tests that write a settings file: a section's keys and values in order, and
// their merge. Header-only; values only.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Keys = std::vector<std::pair<std::string, std::string>>;

// base, with each key of extra replacing the value of the same key or, when base has none,
// added after it (in extra's order).
inline Keys MergeKeys(Keys base, const Keys& extra) {
  for (const auto& [key, value] : extra) {
    bool replaced = false;
    for (auto& kv : base)
      if (kv.first == key) kv.second = value, replaced = true;
    if (!replaced) base.emplace_back(key, value);
  }
  return base;
}

}  // namespace testsupport
