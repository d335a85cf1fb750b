// The four texts the workflow diagram editor exchanges with the site's pages:
//   1  the choice lists (the DataURL reply),
//   2  the diagram (the DownloadURL reply),
//   3  the save body, a multipart form posted to UploadURL,
//   4  the save reply.
// Texts 1, 2 and 4 are read only once the whole reply has arrived; every line ends with CR LF.
// Pure code, shared by the editor in the page and by the pages' own tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamsolo::diagram {

inline constexpr const char* kBoundary = "-----------------------------7d114d2a100b3e";
inline constexpr const char* kContentType = "multipart/form-data; boundary=-----------------------------7d114d2a100b3e";
inline constexpr const char* kUnexpectedError = "An unexpected error occurred.";

using Point = std::pair<float, float>;
using Texts = std::vector<std::string>;

// Text 1. Each list is replaced whole on every read.
struct ChoiceLists {
  Texts resolutions, statuses, groups, fieldCaptions, fieldKeys;
};
void ReadChoiceLists(std::string_view text, ChoiceLists& lists);

struct DiagramState {
  int32_t id = 0;
  int32_t type = 0;  // 1: the issue-create state
  std::string name, resolutionCode, statusCode;
  bool valid = false, fixed = false;
  float top = 0, left = 0, width = 0, height = 0;
  Texts validations;                      // required-field keys
  Texts createByGroups, createByTeamLeads;  // the issue-create state only
  Texts reassignGroups;                   // from its action to itself
};

struct DiagramAction {
  int32_t id = 0;
  int32_t type = 0;
  int32_t fromId = 0, toId = 0;
  int32_t lineType = 0;  // as read; the canvas's own line type is what a save posts
  std::string name;
  bool allowAutoAssign = false;
  std::string autoAssignsTo;
  std::vector<Point> points;  // the bends, no coordinate below 0
  Texts canBeAssignedTo;
};

// Text 2. Actions that leave or reach a state the text did not hold cannot be drawn: they come
// back apart, for the caller to skip.
struct Diagram {
  std::vector<DiagramState> states;
  std::vector<DiagramAction> actions;
  std::vector<DiagramAction> unplaceable;
};
Diagram ReadDiagram(std::string_view text);

// Text 3 from a walk of the canvas: its nodes in order, each with the links that leave it. A node
// without a state and a link without an action are skipped.
struct SaveLink {
  const DiagramAction* action = nullptr;
  int32_t toId = 0;  // the state of the link's target node
  int32_t lineType = 0;
  std::vector<Point> points;  // both ends included
};
struct SaveNode {
  const DiagramState* state = nullptr;
  float top = 0, left = 0, width = 0, height = 0;
  std::vector<SaveLink> links;
};
std::string SaveBody(const std::vector<SaveNode>& nodes);

// Texts 1 and 2 as the site's pages write them, so that the readers above give back what went in.
// The diagram's first section is one line, `version`; a state's reassignment groups go out as its
// action to itself.
std::string WriteChoiceLists(const ChoiceLists& lists);
std::string WriteDiagram(int32_t version, const Diagram& d);

// Text 4.
struct SaveReply {
  bool saved = false;
  std::string message;  // when not saved
};
SaveReply ReadSaveReply(std::string_view text);

// The common rules, open for the tests and the fuzz target.
std::string_view DropLeadingComment(std::string_view text);
std::string_view DropDebugInfo(std::string_view text);
int32_t Integer(const std::string& line);  // as atoi
float Position(const std::string& line);   // as strtod, kept as a float
// A state text as the page will URL-decode it: "%" and "+" survive.
std::string PageSafe(std::string_view text);

}  // namespace tamsolo::diagram
