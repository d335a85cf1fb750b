// The module: a class factory for each control of the class table that is built in, the object
// count behind DllCanUnloadNow, and the registration of every control.
#pragma once

#include <functional>
#include <memory>

#include "frame/control_classes.h"

namespace tamsolo {

// Registers every control of the module (once).
void RegisterControls();

class ClassFactory {
 public:
  ClassFactory(const ClassEntry& entry, Creator creator)
      : entry_(entry), creator_(std::move(creator)) {}
  const ClassEntry& Entry() const { return entry_; }
  // Construction and FinalConstruct; a failing FinalConstruct leaves `out` empty.
  HRESULT CreateInstance(Host& host, std::unique_ptr<Control>& out) const;
  HRESULT LockServer(bool lock) const;

 private:
  const ClassEntry& entry_;
  Creator creator_;
};

HRESULT DllGetClassObject(std::string_view clsid, std::shared_ptr<ClassFactory>& out);
HRESULT DllCanUnloadNow();

// The classes a page can create here: the class table's entries that are built in.
std::vector<const ClassEntry*> AvailableClasses();

}  // namespace tamsolo
