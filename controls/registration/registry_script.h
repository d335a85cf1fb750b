// The module's self-registration: for each control the keys its registry script writes under
// HKEY_CLASSES_ROOT (both ProgIDs and the CLSID key), and the type library's registration. The
// keys go to a RegistryTarget, so the same code writes a real store or a test's map.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/class_table.h"
#include "frame/hresult.h"

namespace tamsolo {

// Key paths are relative to HKEY_CLASSES_ROOT ("CLSID\\{...}\\ProgID"); a value name "" is the
// key's default value.
class RegistryTarget {
 public:
  virtual ~RegistryTarget();
  virtual void CreateKey(const std::string& key) = 0;
  virtual void SetValue(const std::string& key, const std::string& name, const std::string& value) = 0;
  virtual void DeleteTree(const std::string& key) = 0;  // a missing key is no error
  // Each may throw a std::exception whose text says why the key could not be written.
};

struct RegistryEntry {
  std::string key;
  std::string name;                  // "" for the default value
  std::optional<std::string> value;  // nullopt: the key alone (an empty key)
  friend bool operator==(const RegistryEntry&, const RegistryEntry&) = default;
};

inline constexpr std::string_view kTypeLibName = "TAMSOLOLib";

// What a control's script writes, in the script's order.
std::vector<RegistryEntry> RegistryScript(const ClassEntry& entry, const std::string& modulePath);
// The type library's keys (version 1.0, locale 0x409) and its dual interfaces.
std::vector<RegistryEntry> TypeLibraryKeys(const std::string& modulePath);

// A key the target cannot write (it throws) fails the call with SELFREG_E_CLASS; the target's
// sentence goes to `error`. What was written before it stays, as with the registrar.
HRESULT DllRegisterServer(RegistryTarget& target, const std::string& modulePath,
                          std::string* error = nullptr);
HRESULT DllUnregisterServer(RegistryTarget& target, std::string* error = nullptr);

}  // namespace tamsolo
