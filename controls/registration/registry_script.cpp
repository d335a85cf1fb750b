#include "registration/registry_script.h"

namespace tamsolo {

namespace {

constexpr std::string_view kDispatchProxy = "{00020424-0000-0000-C000-000000000046}";

std::string ClsidKey(const ClassEntry& e) { return "CLSID\\" + std::string(e.clsid); }
std::string TypeLibKey() { return "TypeLib\\" + std::string(kTypeLibId); }

void Apply(RegistryTarget& target, const std::vector<RegistryEntry>& entries) {
  for (const RegistryEntry& e : entries) {
    if (e.value) target.SetValue(e.key, e.name, *e.value);
    else target.CreateKey(e.key);
  }
}

}  // namespace

RegistryTarget::~RegistryTarget() = default;

std::vector<RegistryEntry> RegistryScript(const ClassEntry& c, const std::string& modulePath) {
  const std::string desc = c.Description(), clsid(c.clsid), key = ClsidKey(c);
  const std::string versioned = c.ProgId(), independent = c.IndependentProgId();
  std::vector<RegistryEntry> out = {
      {versioned, "", desc},
      {versioned + "\\CLSID", "", clsid},
      {independent, "", desc},
      {independent + "\\CLSID", "", clsid},
      {independent + "\\CurVer", "", versioned},
      {key, "", desc},
      {key + "\\ProgID", "", c.ClsidKeyProgId()},
      {key + "\\VersionIndependentProgID", "", independent},
      {key + "\\Programmable", "", std::nullopt},
      {key + "\\InprocServer32", "", modulePath},
      {key + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {key + "\\Control", "", std::nullopt},
  };
  if (c.insertable) out.push_back({key + "\\Insertable", "", std::nullopt});
  out.push_back({key + "\\ToolboxBitmap32", "", modulePath + ", " + std::to_string(c.toolboxBitmap)});
  out.push_back({key + "\\MiscStatus", "", "0"});
  out.push_back({key + "\\MiscStatus\\1", "", std::to_string(c.miscStatus)});
  out.push_back({key + "\\TypeLib", "", std::string(kTypeLibId)});
  out.push_back({key + "\\Version", "", "2.0"});
  return out;
}

std::vector<RegistryEntry> TypeLibraryKeys(const std::string& modulePath) {
  const std::string lib = TypeLibKey() + "\\1.0";
  size_t slash = modulePath.find_last_of("/\\");
  std::string folder = slash == std::string::npos ? std::string() : modulePath.substr(0, slash);
  std::vector<RegistryEntry> out = {
      {lib, "", std::string(kTypeLibName)},
      {lib + "\\409\\win32", "", modulePath},
      {lib + "\\FLAGS", "", "0"},
      {lib + "\\HELPDIR", "", folder},
  };
  for (const ClassEntry& c : ClassTable()) {
    const std::string iface = "Interface\\" + std::string(c.iid);
    out.push_back({iface, "", "I" + std::string(c.name)});
    out.push_back({iface + "\\ProxyStubClsid32", "", std::string(kDispatchProxy)});
    out.push_back({iface + "\\TypeLib", "", std::string(kTypeLibId)});
    out.push_back({iface + "\\TypeLib", "Version", "1.0"});
  }
  return out;
}

namespace {

// The registry layer's refusal of a key ends the call; its sentence goes to the caller.
template <class F>
HRESULT Registering(std::string* error, F body) {
  try {
    body();
    return hr::kOk;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return hr::kSelfRegClass;
  }
}

void RemoveOurKeys(RegistryTarget& target) {
  for (const ClassEntry& c : ClassTable()) {
    target.DeleteTree(c.ProgId());
    target.DeleteTree(c.IndependentProgId());
    target.DeleteTree(ClsidKey(c));  // the CLSID folder itself stays
    target.DeleteTree("Interface\\" + std::string(c.iid));
  }
  target.DeleteTree(TypeLibKey());
}

}  // namespace

HRESULT DllRegisterServer(RegistryTarget& target, const std::string& modulePath, std::string* error) {
  return Registering(error, [&] {
    // Every key of ours is replaced as a whole (the CLSID key must be), so registering again
    // leaves exactly what registering once did.
    RemoveOurKeys(target);
    for (const ClassEntry& c : ClassTable()) Apply(target, RegistryScript(c, modulePath));
    Apply(target, TypeLibraryKeys(modulePath));
  });
}

HRESULT DllUnregisterServer(RegistryTarget& target, std::string* error) {
  return Registering(error, [&] { RemoveOurKeys(target); });
}

}  // namespace tamsolo
