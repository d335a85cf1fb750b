// Each control registers how it is made under its coclass name; the module's class factories
// are built over this table.
#pragma once

#include <functional>
#include <memory>

#include "frame/control.h"

namespace tamsolo {

using Creator = std::function<std::unique_ptr<Control>(Host&)>;

// A class registered twice keeps its first creator.
void RegisterControlClass(std::string_view name, Creator creator);
// nullptr when the class is not built into this module.
const Creator* FindCreator(const ClassEntry& entry);

}  // namespace tamsolo
