#include "common/class_table.h"

#include <array>

#include "automation/text.h"

namespace tamsolo {

namespace {

constexpr uint32_t kMiscControl = 131473;   // 0x20191
constexpr uint32_t kMiscInvisible = 132497; // 0x20591: the same, invisible at run time

constexpr std::array<ClassEntry, 7> kClasses{{
    {"CaptureCtl", "{141B3DC5-CE92-4C86-80EF-BB058AAD3684}", "{02CF1666-0A7C-40C0-827D-E29273A816CF}",
     "{6E8D1328-9E02-4FCF-8B7E-D088E4BB425E}", 105, 104, kMiscControl, false, 2},
    {"Keyboard", "{B849DFE1-FADB-4C9E-B0F9-D3DAC3438F48}", "{54511685-D863-47C4-BFDF-612FCCFCA2CD}",
     "", 111, 110, kMiscInvisible, true, 2},
    {"Chart", "{3F0A0B12-A84B-4EC2-898A-15689BBF9563}", "{9F81EAEB-2050-49ED-A2A2-A29837712F97}",
     "{968733C5-66C5-42B8-9F03-BB5269824FDE}", 113, 112, kMiscControl, true, 2},
    {"ChartBar", "{754CFEC3-EA90-4008-9828-EEEFCBF74F36}", "{C762B764-56C0-4CA2-BD07-7A44410F6E45}",
     "{65391D49-134E-4A07-899E-FE0BEDFB167E}", 223, 114, kMiscControl, true, 2},
    {"QELLogo", "{BC779345-11EC-4E18-8171-76CD0A6BAC9A}", "{6A017E15-643A-4D09-AAC1-C79074EBF0E2}",
     "", 224, 0, 0, true, 2},
    {"WorkflowDiagram", "{5A978598-17E3-45A5-8C46-8F424EEA2E31}",
     "{9E126A08-FDB5-4546-A3B3-1BA88EE65351}", "{F54988D9-F59B-46F3-ADBE-265A199AB85F}", 225, 116,
     kMiscControl, true, 1},
    {"QueryWizard", "{C096CE94-CD42-4BE7-81D6-CB89E21A19F0}", "{A27DF59B-9E81-4097-8757-8F341558070E}",
     "{056B92FA-BA85-4A41-847F-6B6A80A1552D}", 115, 114, kMiscControl, true, 2},
}};

// The bare 36-character form of a class identifier as pages write it.
std::string_view BareClsid(std::string_view s) {
  if (s.size() >= 6 && automation::EqualsNoCase(s.substr(0, 6), "clsid:")) s.remove_prefix(6);
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}') s = s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

std::string ClassEntry::Description() const {
  // The logo's help string was written with a lower-case "class"; the others say "Class".
  return std::string(name) + (name == "QELLogo" ? " class" : " Class");
}

std::string ClassEntry::ProgId() const { return IndependentProgId() + ".2"; }

std::string ClassEntry::IndependentProgId() const {
  return std::string(kProjectName) + "." + std::string(name);
}

std::string ClassEntry::ClsidKeyProgId() const {
  return IndependentProgId() + "." + std::to_string(clsidProgIdVersion);
}

std::span<const ClassEntry> ClassTable() { return kClasses; }

const ClassEntry* FindClassByClsid(std::string_view clsid) {
  std::string_view bare = BareClsid(clsid);
  for (const ClassEntry& c : kClasses)
    if (automation::EqualsNoCase(BareClsid(c.clsid), bare)) return &c;
  return nullptr;
}

const ClassEntry* FindClassByProgId(std::string_view progId) {
  for (const ClassEntry& c : kClasses)
    if (automation::EqualsNoCase(c.ProgId(), progId) ||
        automation::EqualsNoCase(c.IndependentProgId(), progId))
      return &c;
  return nullptr;
}

const ClassEntry* FindClassByName(std::string_view name) {
  for (const ClassEntry& c : kClasses)
    if (automation::EqualsNoCase(c.name, name)) return &c;
  return nullptr;
}

}  // namespace tamsolo
