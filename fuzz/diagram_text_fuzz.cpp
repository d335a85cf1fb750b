// The diagram editor's incoming texts from outside: the first byte chooses the choice lists, the
// diagram or the save reply, the rest is the text. Reading never crashes, hangs or reads past the
// text; a read diagram writes a save body that is closed and whose reassignment rules and actions
// name only states that were read; a failed reply's message is the end of the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "common/diagram_text.h"

namespace {

namespace diagram = tamsolo::diagram;

void Diagram(std::string_view text) {
  diagram::Diagram d = diagram::ReadDiagram(text);
  std::set<int32_t> ids;
  for (const diagram::DiagramState& s : d.states)
    if (!ids.insert(s.id).second) std::abort();
  std::vector<diagram::SaveNode> nodes;
  for (const diagram::DiagramState& s : d.states) {
    diagram::SaveNode n{&s, s.top, s.left, s.width, s.height, {}};
    for (const diagram::DiagramAction& a : d.actions) {
      if (!ids.contains(a.fromId) || !ids.contains(a.toId) || a.fromId == a.toId) std::abort();
      if (a.fromId == s.id) n.links.push_back({&a, a.toId, a.lineType, {{0, 0}, {1, 1}}});
    }
    nodes.push_back(n);
  }
  for (const diagram::DiagramAction& a : d.unplaceable)
    if (ids.contains(a.fromId) && ids.contains(a.toId)) std::abort();
  std::string body = diagram::SaveBody(nodes);
  if (!body.ends_with(std::string(diagram::kBoundary) + "--\r\n")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      diagram::ChoiceLists lists;
      diagram::ReadChoiceLists(text, lists);
      size_t items = lists.resolutions.size() + lists.statuses.size() + lists.groups.size() +
                     lists.fieldCaptions.size() + lists.fieldKeys.size();
      if (items > text.size()) std::abort();  // every item takes at least its CR LF
      break;
    }
    case 1:
      Diagram(text);
      break;
    default: {
      diagram::SaveReply r = diagram::ReadSaveReply(text);
      if (!r.saved && r.message != diagram::kUnexpectedError && !text.ends_with(r.message)) std::abort();
      if (r.saved && !r.message.empty()) std::abort();
    }
  }
  return 0;
}
