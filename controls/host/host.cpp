#include "host/host.h"

namespace tamsolo {

TransferSink::~TransferSink() = default;
DomElement::~DomElement() = default;
Host::~Host() = default;

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
