#include "host/host.h"

namespace tamsolo {

TransferSink::~TransferSink() = default;
DomElement::~DomElement() = default;
Host::~Host() = default;

void Host::PlayKeys(const std::vector<keys::KeyStroke>&) {}
void Host::PickDisplay(std::function<void(PickResult, Picture)> done) { done(PickResult::Unsupported, {}); }
std::vector<uint32_t> Host::PicturePixels(const Picture&) { return {}; }
void Host::ShowPreview(std::string_view, std::string_view, const std::vector<PreviewMenuItem>&, const Picture&,
                       std::function<void(int)>) {}
void Host::HidePreview() {}
void Host::AskSaveName(const SaveDialog&, std::function<void(std::optional<std::string>, int)> done) {
  done(std::nullopt, 0);
}
void Host::MakeFile(std::string_view, const Picture&, const std::string*, std::function<void(bool)> done) {
  done(false);
}

std::string EventText(std::string_view event, const std::vector<automation::Variant>& args) {
  std::string text(event);
  text += "(";
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) text += ", ";
    text += args[i].IsNull() ? std::string("Null") : args[i].ToText();
  }
  return text + ")";
}

}  // namespace tamsolo
