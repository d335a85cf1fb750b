// The module's one count of live control objects and class-factory locks.
#pragma once

namespace tamsolo {

void ModuleAddRef();
void ModuleRelease();
long ModuleCount();

}  // namespace tamsolo
