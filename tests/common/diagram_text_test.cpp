#include "common/diagram_text.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/diagram_text_sample.h"

namespace tamsolo::diagramtest {
namespace {

using diagram::Diagram;
using Texts = diagram::Texts;

// The values posted under `field`, in order.
std::vector<std::string> Posted(const std::string& body, const std::string& field) {
  std::vector<std::string> out;
  const std::string head = "Content-Disposition: form-data; name=\"" + field + "\"\r\n\r\n";
  for (size_t at = body.find(head); at != std::string::npos; at = body.find(head, at)) {
    at += head.size();
    out.push_back(body.substr(at, body.find("\r\n", at) - at));
  }
  return out;
}

size_t Parts(const std::string& body) {
  size_t n = 0;
  for (size_t at = body.find(diagram::kBoundary); at != std::string::npos; at = body.find(diagram::kBoundary, at + 1))
    ++n;
  return n - 1;  // the closing line
}

TEST(DiagramText, TextDGivesItsStatesActionsAndReassignment) {
  Diagram d = diagram::ReadDiagram(TextD());
  ASSERT_EQ(d.states.size(), 3u);
  ASSERT_EQ(d.actions.size(), 2u);
  EXPECT_TRUE(d.unplaceable.empty());
  const diagram::DiagramState& create = d.states[0];
  EXPECT_EQ(create.type, 1);
  EXPECT_EQ(create.createByGroups, (Texts{"Customers", "Testers"}));
  EXPECT_EQ(create.createByTeamLeads, (Texts{"Developers"}));
  const diagram::DiagramState& open = d.states[1];
  EXPECT_EQ(open.name, "New");
  EXPECT_TRUE(open.valid);
  EXPECT_FALSE(open.fixed);
  EXPECT_EQ(open.left, 2900.0f);
  EXPECT_EQ(open.validations, (Texts{"Summary", "PriorityCode"}));
  EXPECT_EQ(open.reassignGroups, (Texts{"Testers"}));
  EXPECT_TRUE(d.states[2].fixed);
  const diagram::DiagramAction& fix = d.actions[1];
  EXPECT_EQ(fix.name, "Fix");
  EXPECT_TRUE(fix.allowAutoAssign);
  EXPECT_EQ(fix.autoAssignsTo, "Developers");
  EXPECT_EQ(fix.points, (std::vector<diagram::Point>{{3500, 1200}, {3600.5f, 1800}}));
  EXPECT_EQ(fix.canBeAssignedTo, (Texts{"Developers", "QA \"Team\""}));
  EXPECT_FALSE(d.actions[0].allowAutoAssign);
}

TEST(DiagramText, TextDWrittenBackUnchanged) {
  Diagram d = diagram::ReadDiagram(TextD());
  std::string body = diagram::SaveBody(Walk(d));
  EXPECT_EQ(Parts(body), 73u);
  EXPECT_EQ(body.size(), 7784u);
  EXPECT_TRUE(body.starts_with(std::string(diagram::kBoundary) +
                               "\r\nContent-Disposition: form-data; name=\"WorkflowId\"\r\n\r\n1\r\n"));
  EXPECT_TRUE(body.ends_with("\"Developers\",\"QA \"\"Team\"\"\"\r\n" + std::string(diagram::kBoundary) + "--\r\n"));
  // Each state's fields, then each action's (state 5's reassignment rule as the action of id 0).
  const std::pair<const char*, Texts> posted[] = {
      {"StateName", {"na", "New", "Fixed - Closed"}},
      {"IssueFixed", {"na", "off", "on"}},
      {"DiagramLeft", {"300.000000", "2900.000000", "2900.000000"}},
      {"CreateByGroups", {"Customers,Testers", "\"\"", "\"\""}},
      {"CreateByTeamLeads", {"Developers", "\"\"", "\"\""}},
      {"Validations", {"*none*", "Summary,PriorityCode", "*none*"}},
      {"ActionId", {"10", "0", "11"}}, {"ActionType", {"2", "2", "2"}}, {"FromId", {"1", "5", "5"}},
      {"ToId", {"5", "5", "7"}}, {"LineType", {"0", "0", "1"}},
      {"Points", {"-1,-1", "-1,-1", "3500.000000,1200.000000,3600.500000,1800.000000"}},
      {"ActionName", {"Submit", "", "Fix"}},
      {"AllowAutoAssign", {"no", "no", "yes"}},
      {"AutoAssignsTo", {"", "", "Developers"}},
      {"CanBeAssignedTo", {"\"Developers\"", "\"Testers\"", "\"Developers\",\"QA \"\"Team\"\"\""}},
  };
  for (const auto& [field, values] : posted) EXPECT_EQ(Posted(body, field), values) << field;
}

TEST(DiagramText, NodesWithoutStateAndLinksWithoutActionAreSkipped) {
  Diagram d = diagram::ReadDiagram(TextD());
  std::vector<diagram::SaveNode> nodes = Walk(d);
  nodes.insert(nodes.begin(), diagram::SaveNode{});
  nodes[1].links.push_back(diagram::SaveLink{});
  EXPECT_EQ(diagram::SaveBody(nodes), diagram::SaveBody(Walk(d)));
}

TEST(DiagramText, TwoPointsOrFewerPostNoBends) {
  diagram::DiagramState s;
  s.id = 3;
  diagram::DiagramAction a;
  for (size_t n : {0u, 1u, 2u, 3u}) {
    diagram::SaveLink l{&a, 4, 0, std::vector<diagram::Point>(n, {7, 8})};
    std::string body = diagram::SaveBody({diagram::SaveNode{&s, 0, 0, 0, 0, {l}}});
    EXPECT_EQ(Posted(body, "Points"), (Texts{n == 3 ? "7.000000,8.000000" : "-1,-1"})) << n;
  }
}

TEST(DiagramText, StateTextsKeepPercentAndPlusThroughThePage) {
  diagram::DiagramState s;
  s.name = s.resolutionCode = "C++ 50%";
  s.statusCode = "A&B";
  std::string body = diagram::SaveBody({diagram::SaveNode{&s, 0, 0, 0, 0, {}}});
  EXPECT_EQ(Posted(body, "StateName"), (Texts{"C%2B%2B 50%25"}));
  EXPECT_EQ(Posted(body, "ResolutionCode"), (Texts{"C%2B%2B 50%25"}));
  EXPECT_EQ(Posted(body, "StatusCode"), (Texts{"A&B"}));
}

TEST(DiagramText, ChoiceListsWithAndWithoutTheCommentHead) {
  const std::string lists = CrLf({"2", "Fixed", "New", "1", "Open", "1", " Dev ", "1", "Summary", "1", "Sum"});
  for (const std::string& text : {lists, "<!-- lists\r\n-- -->\r\n" + lists}) {
    diagram::ChoiceLists l;
    l.groups = {"stale"};
    diagram::ReadChoiceLists(text, l);
    EXPECT_EQ(l.resolutions, (Texts{"Fixed", "New"}));
    EXPECT_EQ(l.statuses, (Texts{"Open"}));
    EXPECT_EQ(l.groups, (Texts{" Dev "}));
    EXPECT_EQ(l.fieldCaptions, (Texts{"Summary"}));
    EXPECT_EQ(l.fieldKeys, (Texts{"Sum"}));
  }
}

// A count beyond the lines that arrived keeps the lines it got; the lists after it are empty.
TEST(DiagramText, ListsStopWhereTheTextEnds) {
  diagram::ChoiceLists l;
  l.fieldKeys = {"stale"};
  diagram::ReadChoiceLists("3\r\nFixed\r\nDone\r\n", l);
  EXPECT_EQ(l.resolutions, (Texts{"Fixed", "Done"}));
  EXPECT_TRUE(l.statuses.empty());
  EXPECT_TRUE(l.fieldKeys.empty());
  diagram::ReadChoiceLists(CrLf({"1", "Fixed", "3", "Open"}), l);
  EXPECT_EQ(l.resolutions, (Texts{"Fixed"}));
  EXPECT_EQ(l.statuses, (Texts{"Open"}));
  // So does a diagram cut after its states, whose state count is larger than the states it holds.
  std::string text = TextD();
  text.resize(text.find("\r\n3\r\n10\r\n") + 2);
  const size_t states = text.find("\r\n3\r\n1\r\n1\r\n");
  ASSERT_NE(states, std::string::npos);
  const Diagram d = diagram::ReadDiagram(text.replace(states, 3, "\r\n9"));
  EXPECT_EQ(d.states.size(), 3u);
}

TEST(DiagramText, CommentHeads) {
  struct Case {
    std::string text, lines, reply;
  } cases[] = {
      {"<!-- a -->\r\nx", "x", "<!-- a -->\r\nx"},
      {"<!-- a --> b\r\nx", "<!-- a --> b\r\nx", "<!-- a --> b\r\nx"},
      {"<!-->\r\nx", "<!-->\r\nx", "<!-->\r\nx"},
      {"<!--METADATA TYPE=\"ASP_DEBUG_INFO\" -->\r\nok\r\n", "ok\r\n", "ok\r\n"},
      {"<!--METADATA TYPE=\"ASP_DEBUG_INFO\" --> ok", "<!--METADATA TYPE=\"ASP_DEBUG_INFO\" --> ok",
       "<!--METADATA TYPE=\"ASP_DEBUG_INFO\" --> ok"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(diagram::DropLeadingComment(c.text), c.lines) << c.text;
    EXPECT_EQ(diagram::DropDebugInfo(c.text), c.reply) << c.text;
  }
}

TEST(DiagramText, NumbersAndFlagsReadAsTheCLibraryReadsThem) {
  struct Case {
    const char* line;
    int32_t integer;
    float position;
  } cases[] = {{"  42x", 42, 42}, {"-7", -7, -7}, {"+3.75", 3, 3.75f}, {"", 0, 0}, {"abc", 0, 0},
               {"1e3", 1, 1000}, {"4294967297", 2147483647, 4294967297.0f}, {"-99999999999", -2147483647 - 1, -99999999999.0f}, {"\t12.5", 12, 12.5f}};
  for (const Case& c : cases) {
    EXPECT_EQ(diagram::Integer(c.line), c.integer) << c.line;
    EXPECT_EQ(diagram::Position(c.line), c.position) << c.line;
  }
}

TEST(DiagramText, SaveReplies) {
  struct Case {
    std::string text;
    bool saved;
    std::string message;
  } cases[] = {
      {"ok\r\n", true, ""},
      {"ok\r\nx", true, ""},
      {"OK\r\n", false, ""},
      {"<!-- x -->\r\nok\r\n", false, ""},
      {"", false, "An unexpected error occurred."},
      {"<!--METADATA TYPE=\"ASP_DEBUG_INFO\"-->\r\n", false, "An unexpected error occurred."},
      {"<!--METADATA TYPE=\"ASP_DEBUG_INFO\"-->\r\nok\r\n", true, ""},
      {"failed\r\n5\r\nThe state is in use.\r\nSecond line\r\n", false, "The state is in use.\r\nSecond line\r\n"},
      {"ok", false, ""},
  };
  for (const Case& c : cases) {
    diagram::SaveReply r = diagram::ReadSaveReply(c.text);
    EXPECT_EQ(r.saved, c.saved) << c.text;
    EXPECT_EQ(r.message, c.message) << c.text;
  }
}

// Text D with one piece changed, and what the reader makes of it.
TEST(DiagramText, ChangedTextsReadAsTheReaderReadsThem) {
  struct Case {
    const char* what;
    std::string from, to;
    std::function<void(const Diagram&)> check;
  };
  const Case cases[] = {
      {"a flag is True only as written", "True\r\nFalse\r\n300", "true\r\nFalse\r\n300",
       [](const Diagram& d) { EXPECT_FALSE(d.states[1].valid); }},
      {"a reassignment of an unread state is dropped", "0\r\n2\r\n5\r\n5\r\n", "0\r\n2\r\n9\r\n9\r\n",
       [](const Diagram& d) {
         for (const diagram::DiagramState& s : d.states) EXPECT_TRUE(s.reassignGroups.empty()) << s.id;
         EXPECT_EQ(d.actions.size(), 2u);
       }},
      {"actions of states not read are unplaceable", "11\r\n2\r\n5\r\n7\r\n", "11\r\n2\r\n5\r\n8\r\n",
       [](const Diagram& d) {
         ASSERT_EQ(d.actions.size(), 1u);
         ASSERT_EQ(d.unplaceable.size(), 1u);
         EXPECT_EQ(d.unplaceable[0].name, "Fix");
         EXPECT_EQ(d.unplaceable[0].canBeAssignedTo.size(), 2u);  // read whole, so the next action still reads
         EXPECT_EQ(d.states[1].reassignGroups, (Texts{"Testers"}));
       }},
      {"a second state with an id already read is skipped", "7\r\n0\r\nFixed", "5\r\n0\r\nFixed",
       [](const Diagram& d) {
         ASSERT_EQ(d.states.size(), 2u);
         EXPECT_EQ(d.states[1].name, "New");
       }},
      {"negative coordinates become zero", "3500\r\n1200", "-35\r\n-1.5",
       [](const Diagram& d) { EXPECT_EQ(d.actions[1].points[0], (diagram::Point{0, 0})); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text = TextD();
    const size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(text.find(c.from, at + 1), std::string::npos);  // the one place meant
    c.check(diagram::ReadDiagram(text.replace(at, c.from.size(), c.to)));
  }
}

TEST(DiagramText, AHugeStateCountEndsTheReadingAtOnce) {
  EXPECT_TRUE(diagram::ReadDiagram(CrLf({"0", "2000000000"})).states.empty());
  EXPECT_TRUE(diagram::ReadDiagram(CrLf({"2000000000"})).states.empty());
}

// The pages' writers: what they write reads back to the same texts, and text D's reading is kept
// whole through a write (its comment head and first section aside).
TEST(DiagramText, WrittenTextsReadBackTheSame) {
  Diagram d = diagram::ReadDiagram(TextD());
  const std::string written = diagram::WriteDiagram(4, d);
  EXPECT_TRUE(written.starts_with("1\r\n4\r\n3\r\n1\r\n1\r\nna\r\n")) << written;
  EXPECT_EQ(diagram::WriteDiagram(4, diagram::ReadDiagram(written)), written);
  EXPECT_NE(written.find("\r\n3600.5\r\n1800\r\n"), std::string::npos);
  EXPECT_EQ(diagram::ReadDiagram(written).states[1].reassignGroups, (Texts{"Testers"}));

  diagram::ChoiceLists lists{{"New", "C++ 50%"}, {"Open"}, {}, {"Summary"}, {"Summary"}};
  diagram::ChoiceLists back;
  diagram::ReadChoiceLists(diagram::WriteChoiceLists(lists), back);
  EXPECT_EQ(diagram::WriteChoiceLists(back), "2\r\nNew\r\nC++ 50%\r\n1\r\nOpen\r\n0\r\n1\r\nSummary\r\n1\r\nSummary\r\n");
}

}  // namespace
}  // namespace tamsolo::diagramtest
