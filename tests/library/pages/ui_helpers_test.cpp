// UIHelpers called by name, as the pages and the renderers call it, on recordsets read from a
// real SQLite file.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/automation.h"
#include "support/com_error.h"
#include "support/temp_dir.h"

namespace {

using automation::Variant;
using ObjectPtr = std::shared_ptr<automation::Object>;

class UIHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn = std::make_shared<ado::Connection>();
    conn->Open("Data Source=" + (dir / "ui.db").string());
    conn->ExecuteNonQuery(R"(
      CREATE TABLE Parents (ParentId int, Name varchar(20));
      CREATE TABLE Children (ChildId int, ParentId int, Text varchar(50));
      CREATE TABLE Codes (Id int, Label varchar(50), Code varchar(20));
      CREATE TABLE ProjectUsers (UserId varchar(50));)");
  }
  void Exec(const std::string& sql) { conn->ExecuteNonQuery(sql); }
  Variant Rs(const std::string& sql) { return Variant(std::static_pointer_cast<automation::Object>(conn->Query(sql))); }
  // The child rows of one parent; the parameter's type is that of the parent ids (adInteger or
  // adVarChar).
  Variant ChildCommand(int32_t type = 3, int32_t size = 4) {
    auto cmd = automation::CreateObject("ADODB.Command");
    cmd->PutRef("ActiveConnection", Variant(std::static_pointer_cast<automation::Object>(conn)));
    cmd->Put("CommandText", Variant("select ChildId, Text from Children where ParentId = ? order by ChildId"));
    Variant p = cmd->Call("CreateParameter", {Variant("ParentId"), Variant(type), Variant(1), Variant(size), Variant()});
    cmd->Get("Parameters").ToObject()->Call("Append", {p});
    return Variant(cmd);
  }
  std::string Call(const std::string& member, std::vector<Variant> args) {
    return ui->Call(member, std::move(args)).ToString();
  }

  testsupport::TempDir dir;
  std::shared_ptr<ado::Connection> conn;
  ObjectPtr ui = automation::CreateObject("Brisquel.UIHelpers");
};

TEST_F(UIHelpersTest, OptionListMarksTheSelectedRowsAndRewindsTheRecordset) {
  struct Case {
    const char* name;
    std::string rows, idField, selected;
    bool alreadyRead;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"the row whose id text matches exactly", "(1, 'A<b'), (12, 'C')", "Id", "12", false,
       "<option value = \"1\">A&lt;b</option>\r\n<option selected value = \"12\">C</option>\r\n"},
      {"an id text that differs", "(1, 'A<b'), (12, 'C')", "Id", "012", false,
       "<option value = \"1\">A&lt;b</option>\r\n<option value = \"12\">C</option>\r\n"},
      // Both rows matching are marked; a Null text is skipped and the list goes on.
      {"no id field: by text", "(1, 'x'), (2, NULL), (3, 'x')", "", "x", false,
       "<option selected>x</option>\r\n<option></option>\r\n<option selected>x</option>\r\n"},
      {"no rows", "", "Id", "", false, ""},
      {"a recordset already read", "(5, 'Five')", "Id", "", true, "<option value = \"5\">Five</option>\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exec("DELETE FROM Codes");
    if (!c.rows.empty()) Exec("INSERT INTO Codes (Id, Label) VALUES " + c.rows);
    Variant rs = Rs("select Id, Label from Codes order by Id");
    if (c.alreadyRead) rs.ToObject()->Call("MoveNext");
    EXPECT_EQ(Call("OptionList", {rs, Variant(c.idField), Variant("Label"), Variant(c.selected)}), c.expected);
  }
}

TEST_F(UIHelpersTest, OptionListErrorsCarryTheClassAndMember) {
  Exec("INSERT INTO Codes (Id, Label) VALUES (NULL, 'x')");
  // A Null id; a text field the recordset lacks.
  for (auto [query, label] : {std::pair{"select Id, Label from Codes", "Label"}, {"select Id from Codes", "Nope"}}) {
    auto e = testsupport::ErrorOf([&] { Call("OptionList", {Rs(query), Variant("Id"), Variant(label), Variant("")}); });
    EXPECT_NE(e.source.find("UIHelpers.OptionList"), std::string::npos) << e.source;
  }
}

TEST_F(UIHelpersTest, DependantComboWritesEveryParentsChildren) {
  Exec("INSERT INTO Parents VALUES (1, 'One'), (2, 'Two'); INSERT INTO Children VALUES (7, 1, 'Core')");
  const std::string head =
      "<SCRIPT LANGUAGE=javascript>\r\n"
      "function FillModules(ParentId, cmbChild) {\r\n"
      "    var oOption;\r\n"
      "    while (cmbChild.children.length > 0)\r\n"
      "        cmbChild.remove(0);\r\n";
  const std::string tail = "}\r\n</SCRIPT>\r\n";
  const std::string one =
      "    if (ParentId == 1) {\r\n"
      "        oOption = document.createElement(\"OPTION\"); ";
  struct Case {
    std::string parents, idField, blocks;
  } cases[] = {
      {"order by ParentId", "ChildId",
       one + "oOption.value=\"7\"; oOption.text=\"Core\"; cmbChild.add(oOption);\r\n    }\r\n"
             "    if (ParentId == 2) {\r\n    }\r\n"},
      // No parents: the function with its clearing loop only; no id column: only the text.
      {"where 0", "ChildId", ""},
      {"where ParentId = 1", "", one + "oOption.text=\"Core\"; cmbChild.add(oOption);\r\n    }\r\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Call("DependantCombo", {Variant("FillModules"), Rs("select * from Parents " + c.parents), ChildCommand(),
                                      Variant("ParentId"), Variant(c.idField), Variant("Text")}),
              head + c.blocks + tail)
        << c.parents;
}

TEST_F(UIHelpersTest, DependantComboWritesValuesAsScriptStrings) {
  Exec("INSERT INTO Parents VALUES ('a\"b', 'Text id'); INSERT INTO Children VALUES (7, 'a\"b', 'A<b')");
  Exec("INSERT INTO Children VALUES (8, 'a\"b', ';document.title=''x''//')");
  const std::string script =
      Call("DependantCombo", {Variant("F"), Rs("select * from Parents"), ChildCommand(200, 20), Variant("ParentId"),
                              Variant("ChildId"), Variant("Text")});
  EXPECT_NE(script.find("    if (ParentId == \"a\\\"b\") {\r\n"), std::string::npos) << script;
  EXPECT_NE(script.find("oOption.text=\"A\\x3Cb\"; "), std::string::npos) << script;
  EXPECT_NE(script.find("oOption.text=\";document.title=\\'x\\'//\"; "), std::string::npos) << script;
}

TEST_F(UIHelpersTest, DependantComboRefusesAFunctionNameThatIsNoIdentifier) {
  for (const char* name : {"", "f()", "a b", "1f", "x;alert(1)//"}) {
    EXPECT_EQ(testsupport::ErrorNumber([&] {
                Call("DependantCombo", {Variant(name), Rs("select * from Parents"), ChildCommand(),
                                        Variant("ParentId"), Variant("ChildId"), Variant("Text")});
              }),
              automation::vberr::kInvalidCall)
        << name;
  }
}

TEST_F(UIHelpersTest, FilterOptionListLeavesOutTheCallerAndMarksTheSelectedUser) {
  // The options with the one at `selected` marked.
  auto options = [](const std::vector<std::string>& labels, size_t selected) {
    std::string s;
    for (size_t i = 0; i < labels.size(); ++i)
      s += (i == selected ? "<option selected>" : "<option>") + labels[i] + "</option>";
    return s;
  };
  const std::string team = "('alice'), ('bob'), ('carol'), (NULL)";
  const std::vector<std::string> teamOptions = {"Assigned to me", "Assigned to bob", "Assigned to carol",
                                                "All open issues", "All issues"};
  struct Case {
    std::string users, project, selected, expected;
  } cases[] = {
      {team, "1", "Assigned to bob", options(teamOptions, 1)},
      {team, "1", "carol", options(teamOptions, 2)},
      {team, "1", "Assigned to me", options(teamOptions, 0)},
      {team, "1", "All issues", options(teamOptions, 4)},
      // User ids are encoded; nothing is selected.
      {"('<b>x')", "", "",
       options({"Assigned to me", "Assigned to &lt;b&gt;x", "All open issues", "All issues"}, std::string::npos)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.users + " " + c.selected);
    Exec("DELETE FROM ProjectUsers; INSERT INTO ProjectUsers VALUES " + c.users);
    EXPECT_EQ(Call("FilterOptionList", {Variant(c.project), Variant("alice"), Rs("select UserId from ProjectUsers"),
                                        Variant(c.selected)}),
              c.expected);
  }
  EXPECT_EQ(testsupport::ErrorNumber(
                [&] { ui->Call("FilterOptionList", {Variant(""), Variant("alice"), Variant(ObjectPtr()), Variant("")}); }),
            automation::vberr::kObjectNotSet);
}

TEST_F(UIHelpersTest, BothHtmlEncodersAgreeAndEncodeTheAmpersand) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a&b\"<>", "a&amp;b&quot;&lt;&gt;"},
      {"&amp;", "&amp;amp;"},
      {"", ""},
      {"plain \xc3\xa9\xe2\x82\xac 'x'", "plain \xc3\xa9\xe2\x82\xac 'x'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Call("HtmlEncode", {Variant(c.in)}), c.out);
    EXPECT_EQ(Call("SimpleHtmlEncode", {Variant(c.in)}), c.out);
  }
  // No length limit.
  std::string longText(20000, 'q');
  longText[100] = '"';
  EXPECT_EQ(Call("HtmlEncode", {Variant(longText)}).size(), 20005u);
}

TEST_F(UIHelpersTest, UrlEncodeEscapesWhatIsUnsafeAndKeepsTheUrlsStructure) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"/x.asp?a=1&b=c d'e", "/x.asp?a=1&b=c%20d%27e"},
      {"a\"<>\\^{}|[]`b", "a%22%3C%3E%5C%5E%7B%7D%7C%5B%5D%60b"},
      {"/p;q:r#s?t=%41%zz%4", "/p;q:r#s?t=%41%25zz%254"},
      {"caf\xc3\xa9\t", "caf%C3%A9%09"},
      {"cut\0here", "cut"},
  };
  cases[4].in = std::string("cut\0here", 8);
  for (const auto& c : cases) EXPECT_EQ(Call("UrlEncode", {Variant(c.in)}), c.out) << c.in;
}

TEST_F(UIHelpersTest, UrlDecodeTurnsEscapesBackAndNeverRaises) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"%41+%4", "A+%4"},
      {"a%20b%2Cc", "a b,c"},
      {"caf%C3%A9", "caf\xc3\xa9"},
      {"bad%C3%28", "bad%C3("},
      {"%00x%zz%", "%00x%zz%"},
      {"no escapes", "no escapes"},
  };
  for (const auto& c : cases) EXPECT_EQ(Call("UrlDecode", {Variant(c.in)}), c.out) << c.in;
}

}  // namespace
