#include "frame/object_count.h"

#include <atomic>

namespace tamsolo {

namespace {
std::atomic<long> count{0};
}

void ModuleAddRef() { ++count; }
void ModuleRelease() { --count; }
long ModuleCount() { return count.load(); }

}  // namespace tamsolo
