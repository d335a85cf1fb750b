#include "pages/menu_system.h"

#include "core/error_protocol.h"
#include "brisquel/encode.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "MenuSystem";
constexpr std::string_view kCustomCodes = "/Setup/CustomCodes.asp";
constexpr std::string_view kCustomCode = "/Setup/CustomCode.asp";
constexpr std::string_view kSpacer = "../images/spacer.gif";

struct SubEntry {
  std::string_view label, page, second;
};
struct Group {
  std::string_view label, page;
  std::vector<std::string_view> opensOn;
  std::vector<SubEntry> entries;
};

const Group kUsers{"Users",
                   "/Setup/Users.asp",
                   {"/Setup/Users.asp", "/Setup/User.asp", "/Setup/Groups.asp", "/Setup/Group.asp"},
                   {{"General", "/Setup/Users.asp", "/Setup/User.asp"}, {"Groups", "/Setup/Groups.asp", "/Setup/Group.asp"}}};
const Group kProjects{"Projects",
                      "/Setup/Projects.asp",
                      {"/Setup/ProjectModules.asp", "/Setup/Projects.asp", "/Setup/Project.asp",
                       "/Setup/EMailNotifications.asp", "/Setup/EMailNotification.asp"},
                      {{"General", "/Setup/Projects.asp", "/Setup/Project.asp"},
                       {"E-Mail Notifications", "/Setup/EMailNotifications.asp", "/Setup/EMailNotification.asp"}}};
const Group kCustomize{"Customize",
                       "/Setup/SiteWorkflow.asp",
                       {"/Setup/SiteWorkflow.asp", "/Setup/SiteEntryForm.asp", "/Setup/SiteCustomCode.asp",
                        "/Setup/SiteCustomCodes.asp", "/Setup/SiteCustomFields.asp", "/Setup/SiteCustomField.asp",
                        "/Setup/EMailTemplates.asp", "/Setup/EMailTemplate.asp"},
                       {{"Workflow", "/Setup/SiteWorkflow.asp", "/Setup/SiteWorkflow.asp"},
                        {"Code Tables", "/Setup/SiteCustomCodes.asp", "/Setup/SiteCustomCode.asp"},
                        {"Issue Fields", "/Setup/SiteCustomFields.asp", "/Setup/SiteCustomField.asp"},
                        {"Data Entry Form", "/Setup/SiteEntryForm.asp", "/Setup/SiteEntryForm.asp"},
                        {"E-Mail Templates", "/Setup/EMailTemplates.asp", "/Setup/EMailTemplate.asp"}}};
const Group kSystem{"System",
                    "/Setup/SiteEMailServer.asp",
                    {"/Setup/SiteEMailServer.asp", "/Setup/SiteBackup.asp", "/Setup/SiteRestore.asp"},
                    {{"Outgoing E-Mail", "/Setup/SiteEMailServer.asp", "/Setup/EMailServer.asp"},
                     {"Database Backup", "/Setup/SiteBackup.asp", "/Setup/SiteBackup.asp"},
                     {"Database Restore", "/Setup/SiteRestore.asp", "/Setup/SiteRestore.asp"}}};

bool OpensOn(const Group& g, const std::string& page) {
  for (std::string_view p : g.opensOn)
    if (p == page) return true;
  return false;
}

bool IsCodeTablePage(const std::string& page) { return page == kCustomCodes || page == kCustomCode; }

// The criterion of Recordset.Find encloses text in apostrophes; one inside is written twice.
std::string FindCriterion(std::string_view field, std::string_view value) {
  std::string c(field);
  c += "='";
  for (char ch : value) {
    c += ch;
    if (ch == '\'') c += '\'';
  }
  c += '\'';
  return c;
}

bool AskFlag(const std::shared_ptr<automation::Object>& db, std::string_view member, std::vector<Variant> args) {
  return db->Call(member, std::move(args)).ToBool();
}

}  // namespace

const std::array<std::string_view, MenuSystem::kTextCount>& MenuSystem::TextNames() {
  static const std::array<std::string_view, kTextCount> names{
      "MetaDataPath",       "InstanceMetaDataPath",
      "HttpHost",           "RequestURL",
      "RequestServer",      "RequestTableName",
      "RequestScriptName",  "RequestQueryString",
      "CaptureCtlVersion",  "KeyboardCtlVersion",
      "ReleaseNotesDownloadAddressedUrl", "ReleaseNotesDownloadKnownUrl",
      "ReleaseNotesPrinterUrl", "IssuePrinterFriendlyUrl",
      "IssuesPrinterFriendlyUrl", "IssuesDownloadUrl",
      "SearchPrinterFriendlyUrl", "SearchDownloadUrl"};
  return names;
}

// Dropping the database reference at the end never fails.
MenuSystem::~MenuSystem() {
  try {
    codeTables_.reset();
    db_.reset();
  } catch (...) {
  }
}

template <MenuSystem::Text P>
void MenuSystem::Let(const std::string& value) {
  Procedure(kClass, "Let_" + std::string(TextNames()[P]), [&] {
    if constexpr (P == kRequestURL) {
      texts_[P] = UnMapURL(value);
    } else {
      texts_[P] = value;
    }
  });
}

void MenuSystem::LetUserIsSiteAdmin(bool value) {
  Procedure(kClass, "Let_UserIsSiteAdmin", [&] { userIsSiteAdmin_ = value; });
}

void MenuSystem::LetUserCanAdmin(bool value) {
  Procedure(kClass, "Let_UserCanAdmin", [&] { userCanAdmin_ = value; });
}

std::string MenuSystem::ApplicationRoot() const {
  const std::string& meta = Prop(kMetaDataPath);
  const size_t from = Prop(kInstanceMetaDataPath).size() + 1;
  if (from >= meta.size()) return {};
  const std::string tail = meta.substr(from);
  const size_t slash = tail.find('/');
  return slash == std::string::npos ? std::string() : tail.substr(slash);
}

std::string MenuSystem::MapURL(const std::string& path) const {
  return Procedure(kClass, "MapURL", [&] {
    if (!path.empty() && path.front() == '/') return ApplicationRoot() + path;
    return path;
  });
}

// Behind TLS the request URL starts with "https://", which is dropped as "http://" is.
std::string MenuSystem::UnMapURL(const std::string& url) const {
  return Procedure(kClass, "UnMapURL", [&] {
    std::string_view s = url;
    if (s.starts_with("http://")) {
      s.remove_prefix(7);
    } else if (s.starts_with("https://")) {
      s.remove_prefix(8);
    }
    const std::string& host = Prop(kHttpHost);
    if (!host.empty() && s.starts_with(host)) s.remove_prefix(host.size());
    const std::string root = ApplicationRoot();
    if (!root.empty() && s.starts_with(root)) s.remove_prefix(root.size());
    const size_t q = s.find('?');
    if (q != std::string_view::npos) s = s.substr(0, q);
    return std::string(s);
  });
}

void MenuSystem::Append(std::string_view text) { buffer_->Append(text); }

std::string MenuSystem::Menu(const std::shared_ptr<automation::Object>& db, const std::string& userId,
                             int32_t currentProjectId) {
  return Procedure(kClass, "Menu", [&] {
    // Neither the buffer nor the database outlives the call, whatever way it ends.
    struct Release {
      MenuSystem& m;
      ~Release() {
        m.CloseCodeTables();
        m.buffer_.reset();
        m.db_.reset();
      }
    } release{*this};
    if (!db) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    db_ = db;
    buffer_ = std::make_unique<Buffer>();
    requested_ = CodeTableKind::kNone;
    Append(
        "<div id='LeftMenu' style='background-color:#000000; POSITION: absolute; LEFT: 0px; TOP: 0px; "
        "width:130px; height:100%'>");
    BottomLeftBlock();
    Append(
        "<table style='z-index:1; position:absolute; top:38;' width=100% cellpadding=0 cellspacing=0 border=0 "
        "bgcolor='#ffffff'>");
    LeftMenu(userId, currentProjectId);
    Append("</table>");
    Append("</div>");
    TopMenu(userId);
    return buffer_->Text();
  });
}

void MenuSystem::LeftMenu(const std::string& userId, int32_t currentProjectId) {
  const std::string& page = Prop(kRequestURL);
  const std::string spacer = encode::HtmlAttribute(MapURL(std::string(kSpacer)));
  Append("<tr bgcolor=#000000>");
  Append("<td>&nbsp</td>");
  Append("<td  class=menuitem><b>Issues</b></td>");
  Append("</tr>");
  WriteLeftMenuEntry(page, "My Issues", "/Default.asp");
  WriteLeftMenuEntry(page, "Search", "/Search/Search.asp");
  Append("<tr><td bgcolor=#000000></td><td bgcolor=#000000><IMG HEIGHT=2px SRC='" + spacer + "' height=0></td></tr>");
  Append("<tr><td bgcolor=#000000></td><td bgcolor=#6294cd><IMG SRC='" + spacer + "' height=0></td></tr>");
  if (!AskFlag(db_, "UserIsPublic", {Variant(userId)})) {
    Append("<tr bgcolor=#000000>");
    Append("<td>&nbsp</td>");
    Append("<td  class=menuitem><b>Reports</b></td>");
    Append("</tr>");
    WriteLeftMenuEntry(page, "Daily Summary", "/Reports/DailySummary.asp");
    WriteLeftMenuEntry(page, "Release Notes", "/Reports/ReleaseNotes.asp");
    WriteLeftMenuEntry(page, "Summary Trends", "/Reports/SummaryTrends.asp");
    WriteLeftMenuEntry(page, "Issue Distribution", "/Reports/IssueDistribution.asp");
    Append("<tr><td bgcolor=#000000></td><td bgcolor=#000000><IMG HEIGHT=2px SRC='" + spacer +
           "' height=0></td></tr>");
    Append("<tr><td bgcolor=#000000></td><td bgcolor=#6294cd><IMG SRC='" + spacer + " ' height=0></td></tr>");
  }
  Administration(currentProjectId);
  Append("<tr><td bgcolor=#000000></td><td bgcolor=#000000 style='height:2px;'><div></div></td></tr>");
  Append("<tr><td bgcolor=#000000></td><td bgcolor=#6294cd style='height:1px;'><div></div></td></tr>");
  CloseCodeTables();
}

void MenuSystem::Administration(int32_t currentProjectId) {
  const std::string& page = Prop(kRequestURL);
  Append("<tr bgcolor=#000000><td>&nbsp</td><td  class=menuitem><b>Administration</b></td></tr>");
  WriteLeftMenuEntry(page, "My Info", "/User/MyInfo.asp");
  if (!userIsSiteAdmin_) WriteLeftMenuEntry(page, "Workflow", "/Setup/SiteWorkflowInquiry.asp");
  if (userIsSiteAdmin_) UsersGroup(page);
  // A site administrator's Customize group lists the site tables too, so the tables are read for
  // either right.
  if (userCanAdmin_ || userIsSiteAdmin_) ReadCodeTables();
  if (userCanAdmin_) ProjectsGroup(page, currentProjectId);
  if (userIsSiteAdmin_) {
    CustomizeGroup(page);
    Append("<tr><td bgcolor=#000000></td><td bgcolor=#000000><IMG HEIGHT=2px SRC=" +
           MapURL(std::string(kSpacer)) + " height=0></td></tr>");
    SystemGroup(page);
  }
}

void MenuSystem::UsersGroup(const std::string& page) {
  if (!OpensOn(kUsers, page)) return WriteLeftMenuEntry(page, kUsers.label, kUsers.page);
  StartSubMenu(kUsers.label);
  for (const SubEntry& e : kUsers.entries) SubMenuEntry(page, e.label, e.page, e.second);
  EndSubMenu();
}

void MenuSystem::ProjectsGroup(const std::string& page, int32_t currentProjectId) {
  const bool open = OpensOn(kProjects, page) || (IsCodeTablePage(page) && requested_ == CodeTableKind::kProject);
  if (!open) return WriteLeftMenuEntry(page, kProjects.label, kProjects.page);
  StartSubMenu(kProjects.label);
  for (const SubEntry& e : kProjects.entries) SubMenuEntry(page, e.label, e.page, e.second);
  CodeTableEntries(true, page, currentProjectId);
  EndSubMenu();
}

void MenuSystem::CustomizeGroup(const std::string& page) {
  const bool open = OpensOn(kCustomize, page) || (IsCodeTablePage(page) && requested_ == CodeTableKind::kSite);
  if (!open) return WriteLeftMenuEntry(page, kCustomize.label, kCustomize.page);
  StartSubMenu(kCustomize.label);
  for (const SubEntry& e : kCustomize.entries) SubMenuEntry(page, e.label, e.page, e.second);
  CodeTableEntries(false, page, 0);
  EndSubMenu();
}

void MenuSystem::SystemGroup(const std::string& page) {
  if (!OpensOn(kSystem, page)) return WriteLeftMenuEntry(page, kSystem.label, kSystem.page);
  StartSubMenu(kSystem.label);
  for (const SubEntry& e : kSystem.entries) SubMenuEntry(page, e.label, e.page, e.second);
  EndSubMenu();
}

// The code tables, and on the code-table pages whether the requested one holds project or site codes.
void MenuSystem::ReadCodeTables() {
  Variant v = db_->Call("GetIssueCodeTablesRs");
  codeTables_ = std::dynamic_pointer_cast<ado::Recordset>(v.ToObject());
  if (!codeTables_) automation::RaiseRuntime(automation::vberr::kTypeMismatch);
  if (!IsCodeTablePage(Prop(kRequestURL))) return;
  ado::Recordset& rs = *codeTables_;
  if (rs.IsEOF()) return;
  rs.Find(FindCriterion("TableName", Prop(kRequestTableName)));
  if (rs.IsEOF()) return;
  const Variant varies = rs.Value("VariesByProject");
  requested_ = !varies.IsNull() && varies.ToBool() ? CodeTableKind::kProject : CodeTableKind::kSite;
}

// Closing and dropping the tables never fails the menu.
void MenuSystem::CloseCodeTables() {
  try {
    if (codeTables_) codeTables_->Close();
  } catch (...) {
  }
  codeTables_.reset();
}

void MenuSystem::CodeTableEntries(bool projectTables, const std::string& page, int32_t currentProjectId) {
  if (!codeTables_) return;
  ado::Recordset& rs = *codeTables_;
  if (!rs.IsBOF()) rs.MoveFirst();
  const std::string& requested = Prop(kRequestTableName);
  const bool marks = projectTables ? IsCodeTablePage(page) : page == kCustomCodes;
  for (; !rs.IsEOF(); rs.MoveNext()) {
    const Variant varies = rs.Value("VariesByProject");
    if (varies.IsNull() || varies.ToBool() != projectTables) continue;
    const std::string name = rs.Value("TableName").ToString();
    if (projectTables ? name == "ProjectUsers" : (name == "Projects" || name == "StatusCodes")) continue;
    std::string url = "/Setup/CustomCodes.asp?Table=" + encode::UrlComponent(name);
    if (projectTables) url += "&ProjectId=" + std::to_string(currentProjectId);
    SubMenuTableEntry(encode::HtmlText(rs.Value("TableFriendlyName").ToString()), url, marks && name == requested);
  }
}

void MenuSystem::WriteLeftMenuEntry(const std::string& page, std::string_view label, std::string_view target) {
  Procedure(kClass, "WriteLeftMenuEntry", [&] {
    Append("<tr>");
    Append("<td class=MenuSpacer>&nbsp;</td>");
    const bool current = target == page || (target == "/Default.asp" && page == "/Assignments/MyAssignments.asp");
    if (current) {
      Append("<td class=CurrentMenuItem>");
      Append("&nbsp;&nbsp;" + std::string(label) + "</td>");
    } else {
      Append("<td class=MenuItem>");
      Append("<a tabindex=-1 class=MenuItem ");
      Append("href='" + encode::HtmlAttribute(MapURL(std::string(target))) + "'>");
      Append("&nbsp;&nbsp;" + std::string(label) + "</a></td>");
    }
    Append("</tr>");
  });
}

void MenuSystem::StartSubMenu(std::string_view title) {
  Procedure(kClass, "StartSubMenu", [&] {
    Append("<tr>");
    Append("<td class=MenuSpacer>&nbsp;</td>");
    Append("<td class=MenuItem>");
    Append("&nbsp;&nbsp;" + std::string(title) + "</td>");
    Append("</tr>");
    Append("<tr>");
    Append("<td class=MenuSpacer>&nbsp;</td><td>");
    Append("<table width=100% cellpadding=0 cellspacing=0 border=0 bgcolor='#ffffff'>");
  });
}

void MenuSystem::SubMenuEntry(const std::string& page, std::string_view label, std::string_view target,
                              std::string_view secondTarget) {
  Procedure(kClass, "SubMenuEntry", [&] {
    Append("<tr>");
    Append("<td class=MenuSpacer>&nbsp;&nbsp;&nbsp;</td>");
    if (page == target || page == secondTarget) {
      Append("<td class=CurrentMenuItem>");
      Append("&nbsp;" + std::string(label) + "</td>");
    } else {
      Append("<td class=MenuItem>");
      Append("<a tabindex=-1 class=MenuItem ");
      Append("href='" + encode::HtmlAttribute(MapURL(std::string(target))) + "'>");
      Append("&nbsp;" + std::string(label) + "</a></td>");
    }
    Append("</tr>");
  });
}

// The label comes encoded from the caller; the URL holds its table name as a URL component.
void MenuSystem::SubMenuTableEntry(const std::string& label, const std::string& url, bool isCurrent) {
  Procedure(kClass, "SubMenuTableEntry", [&] {
    Append("<tr>");
    Append("<td class=MenuSpacer>&nbsp;&nbsp;&nbsp;</td>");
    if (isCurrent) {
      Append("<td class=CurrentMenuItem>");
      Append("&nbsp;" + label + "</td>");
    } else {
      Append("<td class=MenuItem>");
      Append("<a tabindex=-1 class=MenuItem ");
      Append("href='" + MapURL(url) + "'>");
      Append("&nbsp;" + label + "</a></td>");
    }
    Append("</tr>");
  });
}

void MenuSystem::EndSubMenu() {
  Procedure(kClass, "EndSubMenu", [&] { Append("</table></td></tr>"); });
}

void MenuSystem::TopMenu(const std::string& userId) {
  Append("<!-- Top Menu -->");
  Append("<div id='TopMenu' style='height:58px; LEFT: 0px; POSITION: absolute; TOP: 0px; WIDTH: 100%; z-index:2'>"
         "<!-- Top navigation -->");
  Append("<table width='100%' cellpadding=0 cellspacing=0 border=0 bgcolor='#CEDBE7'>");
  Append("<tr>");
  Append("<td width=100%>");
  Append("<table width=100% cellpadding=0 cellspacing=0 border=0>");
  Append("<tr>");
  Append("<td width=100% height=30 valign='center' nowrap>");
  Append("<table width=100% cellpadding=0 cellspacing=0 border=0><tr>");
  Append("<td bgcolor='#CEDBE7' height=23 valign='center' nowrap>");
  Append("<font color='#000000' face='verdana, arial' size=1><b>");
  Append("&nbsp;&nbsp;<A tabindex=-1 class=menulink href='" + encode::HtmlAttribute(MapURL("/Default.asp")) +
         "'>Home</A>&nbsp;&nbsp;|");
  if (AskFlag(db_, "CanUserCreateIssue", {Variant(userId)})) {
    Append("&nbsp;&nbsp;<A tabindex=-1 class=menulink href='" +
           encode::HtmlAttribute(MapURL("/Issues/Issue.asp?IssueId=New")) + "'>New Issue</A>&nbsp;&nbsp;|");
  } else {
    Append(
        "&nbsp;&nbsp;<A tabindex=-1 class=menulink href=\"javascript:alert('You are not authorized to create "
        "issues (must be a member of a project).');\">New Issue</A>&nbsp;&nbsp;|");
  }
  // The query is the browser's own text: a script string first, then an attribute value.
  const std::string help = MapURL("/Help" + UnMapURL(Prop(kRequestScriptName)));
  Append("&nbsp;&nbsp;<A tabindex=-1 class=menulink href='" + encode::HtmlAttribute(help) + "' onclick='");
  Append("window.open(\"" + encode::HtmlAttribute(encode::ScriptString(help + "?" + Prop(kRequestQueryString))) +
         "\", \"_blank\", \"width=500,height=400,location=no,resizable=yes,scrollbars=yes\"); return false;' ");
  Append(">Help</A>&nbsp;&nbsp;|");
  Append("&nbsp;&nbsp;<A tabindex=-1 class=menulink href='" + encode::HtmlAttribute(MapURL("/Logout.asp")) +
         "'>Logoff " + encode::HtmlText(userId) + "</A>&nbsp;&nbsp;|");
  Append("&nbsp;&nbsp;</b></font>");
  Append("</td>");
  Append("<td align=right bgcolor='#CEDBE7' height=23 valign='center' nowrap class=SmallText>V1.1.2</td>");
  Append("</tr></table></td></tr>");
  Append("<tr><td bgcolor='#89A8C5'><img height=7px width=0px></td></tr>");
  Append("<tr><td bgcolor='#000000'><img height=5px width=0px></td></tr>");
  Append("<tr><td><table width=100% cellpadding=0 cellspacing=0 border=0><tr>");
  Append("<td width=130px height=12px bgcolor='#000000' class=menuitem>&nbsp;<b>Issues</b><img height=0px "
         "width=130px></td>");
  Append("<td width=100% height=12px bgcolor='#ffffff'><img height=0px width=0px></td>");
  Append("</tr></table></td></tr>");
  Append("</table>");
  Append("</td>");
  Append("<td align=right valign=top bgcolor='#ffffff'>");
  Append("<IMG HEIGHT=54 width=421 SRC='" + encode::HtmlAttribute(MapURL("/images/LargeLogo.jpg")) + "'>");
  Append("</td>");
  Append("</tr></table></div>");
}

namespace {

automation::Register<MenuSystem> reg("MenuSystem", "Brisquel.MenuSystem", [](auto& c) {
  using M = MenuSystem;
  c.WriteOnly("MetaDataPath", &M::Let<M::kMetaDataPath>);
  c.WriteOnly("InstanceMetaDataPath", &M::Let<M::kInstanceMetaDataPath>);
  c.WriteOnly("HttpHost", &M::Let<M::kHttpHost>);
  c.WriteOnly("RequestURL", &M::Let<M::kRequestURL>);
  c.WriteOnly("RequestServer", &M::Let<M::kRequestServer>);
  c.WriteOnly("RequestTableName", &M::Let<M::kRequestTableName>);
  c.WriteOnly("RequestScriptName", &M::Let<M::kRequestScriptName>);
  c.WriteOnly("RequestQueryString", &M::Let<M::kRequestQueryString>);
  c.WriteOnly("CaptureCtlVersion", &M::Let<M::kCaptureCtlVersion>);
  c.WriteOnly("KeyboardCtlVersion", &M::Let<M::kKeyboardCtlVersion>);
  c.WriteOnly("UserIsSiteAdmin", &M::LetUserIsSiteAdmin);
  c.WriteOnly("UserCanAdmin", &M::LetUserCanAdmin);
  c.WriteOnly("ReleaseNotesDownloadAddressedUrl", &M::Let<M::kReleaseNotesDownloadAddressedUrl>);
  c.WriteOnly("ReleaseNotesDownloadKnownUrl", &M::Let<M::kReleaseNotesDownloadKnownUrl>);
  c.WriteOnly("ReleaseNotesPrinterUrl", &M::Let<M::kReleaseNotesPrinterUrl>);
  c.WriteOnly("IssuePrinterFriendlyUrl", &M::Let<M::kIssuePrinterFriendlyUrl>);
  c.WriteOnly("IssuesPrinterFriendlyUrl", &M::Let<M::kIssuesPrinterFriendlyUrl>);
  c.WriteOnly("IssuesDownloadUrl", &M::Let<M::kIssuesDownloadUrl>);
  c.WriteOnly("SearchPrinterFriendlyUrl", &M::Let<M::kSearchPrinterFriendlyUrl>);
  c.WriteOnly("SearchDownloadUrl", &M::Let<M::kSearchDownloadUrl>);
  c.Method("Menu", &M::Menu);
});

}  // namespace

}  // namespace brisquel
