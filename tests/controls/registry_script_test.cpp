#include <gtest/gtest.h>

#include <map>

#include "automation/text.h"
#include "registration/registry_script.h"

namespace tamsolo {
namespace {

// HKEY_CLASSES_ROOT as a map: key paths without regard to case, each with its values.
class MemoryRegistry : public RegistryTarget {
 public:
  std::map<std::string, std::map<std::string, std::string>> keys;  // lower-case path

  void CreateKey(const std::string& key) override { keys[automation::LowerAscii(key)]; }
  void SetValue(const std::string& key, const std::string& name, const std::string& value) override {
    keys[automation::LowerAscii(key)][name] = value;
  }
  void DeleteTree(const std::string& key) override {
    std::string k = automation::LowerAscii(key);
    std::erase_if(keys, [&](const auto& kv) { return kv.first == k || kv.first.starts_with(k + "\\"); });
  }
  bool Has(const std::string& key) const { return keys.contains(automation::LowerAscii(key)); }
  std::string Value(const std::string& key, const std::string& name = "") const {
    auto it = keys.find(automation::LowerAscii(key));
    if (it == keys.end() || !it->second.contains(name)) return "<none>";
    return it->second.at(name);
  }
};

const std::string kModule = "/usr/lib/vantrel/Tamsolo.DLL";

TEST(Registration, TheLogoScriptInOrder) {
  std::vector<RegistryEntry> script = RegistryScript(*FindClassByName("QELLogo"), kModule);
  const std::string k = "CLSID\\{BC779345-11EC-4E18-8171-76CD0A6BAC9A}";
  std::vector<RegistryEntry> expected = {
      {"Tamsolo.QELLogo.2", "", "QELLogo class"},
      {"Tamsolo.QELLogo.2\\CLSID", "", "{BC779345-11EC-4E18-8171-76CD0A6BAC9A}"},
      {"Tamsolo.QELLogo", "", "QELLogo class"},
      {"Tamsolo.QELLogo\\CLSID", "", "{BC779345-11EC-4E18-8171-76CD0A6BAC9A}"},
      {"Tamsolo.QELLogo\\CurVer", "", "Tamsolo.QELLogo.2"},
      {k, "", "QELLogo class"},
      {k + "\\ProgID", "", "Tamsolo.QELLogo.2"},
      {k + "\\VersionIndependentProgID", "", "Tamsolo.QELLogo"},
      {k + "\\Programmable", "", std::nullopt},
      {k + "\\InprocServer32", "", kModule},
      {k + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {k + "\\Control", "", std::nullopt},
      {k + "\\Insertable", "", std::nullopt},
      {k + "\\ToolboxBitmap32", "", kModule + ", 0"},
      {k + "\\MiscStatus", "", "0"},
      {k + "\\MiscStatus\\1", "", "0"},
      {k + "\\TypeLib", "", "{29A5C856-39EB-4B02-B487-80BBA92C6194}"},
      {k + "\\Version", "", "2.0"},
  };
  EXPECT_EQ(script, expected);
}

TEST(Registration, DiagramCaptureAndKeyboardSpecialities) {
  MemoryRegistry reg;
  ASSERT_EQ(DllRegisterServer(reg, kModule), hr::kOk);
  EXPECT_EQ(reg.Value("Tamsolo.WorkflowDiagram\\CurVer"), "Tamsolo.WorkflowDiagram.2");
  EXPECT_EQ(reg.Value("CLSID\\{5A978598-17E3-45A5-8C46-8F424EEA2E31}\\ProgID"), "Tamsolo.WorkflowDiagram.1");
  const std::string capture = "CLSID\\{141B3DC5-CE92-4C86-80EF-BB058AAD3684}";
  EXPECT_FALSE(reg.Has(capture + "\\Insertable"));
  EXPECT_EQ(reg.Value(capture + "\\ToolboxBitmap32"), kModule + ", 104");
  EXPECT_EQ(reg.Value(capture + "\\MiscStatus\\1"), "131473");
  EXPECT_EQ(reg.Value("CLSID\\{B849DFE1-FADB-4C9E-B0F9-D3DAC3438F48}\\MiscStatus\\1"), "132497");
  EXPECT_TRUE(reg.Has("CLSID\\{B849DFE1-FADB-4C9E-B0F9-D3DAC3438F48}\\Insertable"));
  EXPECT_EQ(reg.Value("TypeLib\\{29A5C856-39EB-4B02-B487-80BBA92C6194}\\1.0"), "TAMSOLOLib");
  EXPECT_EQ(reg.Value("TypeLib\\{29A5C856-39EB-4B02-B487-80BBA92C6194}\\1.0\\HELPDIR"), "/usr/lib/vantrel");
}

TEST(Registration, RegisteringReplacesTheClsidKeyAndUnregisteringLeavesNothing) {
  MemoryRegistry reg;
  reg.SetValue("CLSID", "", "kept");
  reg.SetValue("CLSID\\{754CFEC3-EA90-4008-9828-EEEFCBF74F36}\\Stale", "", "old");
  reg.SetValue("Other.App", "", "kept");
  DllRegisterServer(reg, kModule);
  EXPECT_FALSE(reg.Has("CLSID\\{754CFEC3-EA90-4008-9828-EEEFCBF74F36}\\Stale"));
  DllRegisterServer(reg, kModule);  // twice is the same as once
  DllUnregisterServer(reg);
  std::vector<std::string> left;
  for (const auto& [key, values] : reg.keys) left.push_back(key);
  EXPECT_EQ(left, (std::vector<std::string>{"clsid", "other.app"}));
}

TEST(Registration, AKeyTheTargetRefusesFailsTheCallWithItsSentence) {
  struct Refusing : MemoryRegistry {
    void SetValue(const std::string& key, const std::string& name, const std::string& value) override {
      if (key.ends_with("\\MiscStatus\\1")) throw std::runtime_error("Cannot write the registry: No space left");
      MemoryRegistry::SetValue(key, name, value);
    }
  } reg;
  std::string error;
  EXPECT_EQ(DllRegisterServer(reg, kModule, &error), hr::kSelfRegClass);
  EXPECT_EQ(error, "Cannot write the registry: No space left");
  EXPECT_TRUE(reg.Has("Tamsolo.CaptureCtl.2"));  // what came before stays, as with the registrar
  EXPECT_FALSE(reg.Has("Tamsolo.Keyboard.2"));   // nothing after it is tried
}

}  // namespace
}  // namespace tamsolo
