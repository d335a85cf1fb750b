// The registration's keys in the installation's registry file (VANTREL_REGISTRY): each key under
// HKEY_CLASSES_ROOT is a section "[HKEY_CLASSES_ROOT\...]" beside the other sections, which the
// registry layer keeps as they were. Native builds only.
#pragma once

#include "registration/registry_script.h"

namespace tamsolo {

inline constexpr std::string_view kClassesRoot = "HKEY_CLASSES_ROOT";

class RegistryFileTarget : public RegistryTarget {
 public:
  void CreateKey(const std::string& key) override;
  void SetValue(const std::string& key, const std::string& name, const std::string& value) override;
  void DeleteTree(const std::string& key) override;
};

// The program tamsolo-register: `[--unregister] [MODULE]`; MODULE defaults to the installed
// tamsolo.wasm and is written as a full path. Returns the exit status: 0 done, 1 the registry
// refused (the sentence on `err`), 2 a wrong command line.
int RegisterMain(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace tamsolo
