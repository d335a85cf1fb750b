#include "registration/registry_file.h"

#include <filesystem>
#include <ostream>

#include "registry/registry.h"

#ifndef TAMSOLO_DEFAULT_MODULE
#define TAMSOLO_DEFAULT_MODULE "/usr/share/vantrel/controls/tamsolo.wasm"
#endif

namespace tamsolo {

namespace {

std::string Rooted(const std::string& key) { return std::string(kClassesRoot) + "\\" + key; }

constexpr std::string_view kUsage = "Usage: tamsolo-register [--unregister] [MODULE]\n";

}  // namespace

void RegistryFileTarget::CreateKey(const std::string& key) { registry::CreateKey(Rooted(key)); }

void RegistryFileTarget::SetValue(const std::string& key, const std::string& name, const std::string& value) {
  registry::WriteValue(Rooted(key), name, value);
}

void RegistryFileTarget::DeleteTree(const std::string& key) { registry::DeleteKey(Rooted(key)); }

int RegisterMain(int argc, char** argv, std::ostream& out, std::ostream& err) {
  bool unregister = false;
  std::string module = TAMSOLO_DEFAULT_MODULE;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--unregister") {
      unregister = true;
    } else if (arg.starts_with("-") || ++positional > 1) {
      err << kUsage;
      return 2;
    } else {
      module = arg;
    }
  }
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(module, ec);
  if (!ec) module = full.lexically_normal().string();
  RegistryFileTarget target;
  std::string error;
  const HRESULT result = unregister ? DllUnregisterServer(target, &error) : DllRegisterServer(target, module, &error);
  if (Failed(result)) {
    err << "tamsolo-register: " << error << "\n";
    return 1;
  }
  out << (unregister ? "Unregistered the controls from " : "Registered the controls of " + module + " in ")
      << registry::FilePath().string() << "\n";
  return 0;
}

}  // namespace tamsolo
