#include "frame/control_classes.h"

#include <map>

namespace tamsolo {

namespace {

std::map<const ClassEntry*, Creator>& Creators() {
  static std::map<const ClassEntry*, Creator> creators;
  return creators;
}

}  // namespace

void RegisterControlClass(std::string_view name, Creator creator) {
  // The first registration holds: a test build registers its stand-ins before the module's own.
  if (const ClassEntry* entry = FindClassByName(name)) Creators().emplace(entry, std::move(creator));
}

const Creator* FindCreator(const ClassEntry& entry) {
  auto it = Creators().find(&entry);
  return it == Creators().end() ? nullptr : &it->second;
}

}  // namespace tamsolo
