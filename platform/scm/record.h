// What scmd keeps of a registered service across its own restarts, and the folder that holds it:
// one text file per service under <state folder>/services, written to a temporary file and
// renamed over the old one, so a crash leaves either the old or the new record, never a mix.
// The status of a service is not kept: it lives in scmd's memory.
//
// Values and pure functions, except ServiceStore, which touches the files; none keeps a
// descriptor open. Safe from any thread as long as one process writes a folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scm/protocol.h"

namespace scm {

struct ServiceRecord {
  ServiceConfig config;
  // The password of the account config.serviceStartName names ("" when none was given). It
  // lives here and in the record file only: no reply, log line or child process gets it.
  std::string password;
  std::optional<std::string> description;  // UTF-8; absent until one is set
  FailureActions failure;
  // The service's security descriptor in self-relative form, as scmd enforces it (scmd checks
  // it when it loads the record). Empty in a record written before descriptors were enforced:
  // the opaque bytes such a record kept are not taken over.
  std::string security;
  bool operator==(const ServiceRecord&) const = default;
};

// The file text of a record, and back. DecodeRecord returns false for a text that is not a
// record (wrong heading, a bad number, a missing name or path, a value over its limit); unknown
// keys are skipped. The text holds the password: its user wipes it once used (secret.h).
std::string EncodeRecord(const ServiceRecord& record);
bool DecodeRecord(std::string_view text, ServiceRecord& record);

class ServiceStore {
 public:
  // REQUIRES: stateDir exists (the services folder below it is made on the first Save).
  explicit ServiceStore(std::string stateDir);

  // Writes the record atomically: a new temporary file of mode 0600 (a file left under its name
  // is removed first, whatever its mode), fsync, rename, in the services folder, which is made,
  // or set, 0700. Returns false with errno set when it could not be written; the old record then
  // stays. The file's text is wiped from memory once written, and once read by LoadAll.
  bool Save(const ServiceRecord& record) const;
  // Removes the record of the service name. True when it is gone (also when there was none).
  bool Remove(std::string_view name) const;
  // Every record that reads back whole, in file-name order. The paths of files that do not are
  // added to bad (when given) and skipped; leftover temporary files are removed.
  std::vector<ServiceRecord> LoadAll(std::vector<std::string>* bad) const;

  // The file of a service: its name key with every byte outside [A-Z0-9_-] written %XX.
  std::string FileOf(std::string_view name) const;

 private:
  const std::string dir_;  // <state folder>/services
};

}  // namespace scm
