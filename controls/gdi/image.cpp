#include "gdi/image.h"

#include <map>
#include <optional>

namespace gdi {

namespace {

struct Slot {
  ImageMaker maker;
  std::optional<Image> image;
};

std::map<int, Slot>& Images() {
  static std::map<int, Slot> images;
  return images;
}

}  // namespace

void RegisterImage(int id, ImageMaker maker) { Images()[id] = Slot{std::move(maker), std::nullopt}; }

const Image* LoadImage(int id) {
  auto it = Images().find(id);
  if (it == Images().end()) return nullptr;
  if (!it->second.image) {
    it->second.image = it->second.maker();
    it->second.image->id = id;
  }
  return &*it->second.image;
}

}  // namespace gdi
