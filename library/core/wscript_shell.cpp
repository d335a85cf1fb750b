// "WScript.Shell": the registry calls of the scripting host, over the installation's registry file.
#include "automation/automation.h"
#include "registry/registry.h"

namespace brisquel {

namespace {

// The scripting host reports a missing key or value as "file not found".
constexpr int32_t kNotFound = static_cast<int32_t>(0x80070002);

template <class F>
auto Registry(F&& f) {
  try {
    return f();
  } catch (const registry::Error& e) {
    automation::RaiseError(kNotFound, "WshShell", e.what());
  }
}

class WScriptShell : public automation::Dispatchable<WScriptShell> {
 public:
  std::string RegRead(const std::string& path) {
    return Registry([&] { return registry::RegRead(path); });
  }
  void RegWrite(const std::string& path, const automation::Variant& value, const std::string& /*type*/) {
    Registry([&] {
      registry::RegWrite(path, value.ToString());
      return 0;
    });
  }
  void RegDelete(const std::string& path) {
    Registry([&] {
      registry::RegDelete(path);
      return 0;
    });
  }
};

automation::Register<WScriptShell> reg("IWshShell3", "WScript.Shell", [](auto& c) {
  c.Method("RegRead", &WScriptShell::RegRead);
  c.Method("RegWrite", &WScriptShell::RegWrite, {automation::Variant("REG_SZ")});
  c.Method("RegDelete", &WScriptShell::RegDelete);
});

}  // namespace

}  // namespace brisquel
