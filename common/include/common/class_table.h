// The seven controls of the module Tamsolo: identifiers, registry numbers and ProgIDs. One table,
// read by the module (class factories, GetGUID), the loader (which OBJECT tags become controls)
// and the registration texts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tamsolo {

inline constexpr std::string_view kTypeLibId = "{29A5C856-39EB-4B02-B487-80BBA92C6194}";
inline constexpr std::string_view kProjectName = "Tamsolo";

// MiscStatus bits the frame acts on.
inline constexpr uint32_t kMiscInvisibleAtRuntime = 0x400;

struct ClassEntry {
  std::string_view name;      // coclass, "QELLogo"
  std::string_view clsid;     // with braces, upper case
  std::string_view iid;       // default dual interface
  std::string_view eventIid;  // event dispinterface, empty when none
  int registryScript;
  int toolboxBitmap;
  uint32_t miscStatus;
  bool insertable;
  int clsidProgIdVersion;  // version the CLSID key's ProgID names (1 for the diagram, else 2)

  std::string Description() const;         // "Chart Class"; the logo's "QELLogo class"
  std::string ProgId() const;              // "Tamsolo.Chart.2"
  std::string IndependentProgId() const;   // "Tamsolo.Chart"
  std::string ClsidKeyProgId() const;      // the ProgID value under the CLSID key
  bool InvisibleAtRuntime() const { return (miscStatus & kMiscInvisibleAtRuntime) != 0; }
};

std::span<const ClassEntry> ClassTable();

// "{bc779345-...}", "BC779345-..." and "clsid:BC779345-..." all name the logo; nullptr if none.
const ClassEntry* FindClassByClsid(std::string_view clsid);
// Versioned ("Tamsolo.QELLogo.2") or version-independent ("Tamsolo.QELLogo"), any case.
const ClassEntry* FindClassByProgId(std::string_view progId);
const ClassEntry* FindClassByName(std::string_view name);

}  // namespace tamsolo
