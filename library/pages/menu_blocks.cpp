// The bottom-left blocks of the left menu: the issue page's controls and printer link, the link
// lists of My Assignments, Search and the daily summary, and the release-notes downloads.
#include "core/error_protocol.h"
#include "brisquel/encode.h"
#include "pages/menu_system.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "MenuSystem";
constexpr std::string_view kPrinterFriendly = "Printer friendly...";

}  // namespace

// Written behind the menu's own table (z-index -1 against its 1), at the foot of the left menu.
void MenuSystem::BottomLeftBlock() {
  const std::string& page = Prop(kRequestURL);
  const bool issue = page == "/Issues/Issue.asp", assignments = page == "/Assignments/MyAssignments.asp",
             releaseNotes = page == "/Reports/ReleaseNotes.asp", search = page == "/Search/Search.asp",
             dailySummary = page == "/Reports/DailySummary.asp";
  if (!(issue || assignments || releaseNotes || search || dailySummary)) return;
  Append(
      "<table style='z-index:-1; position:absolute; bottom:0;' height=100% width=100% cellpadding=0 cellspacing=0 "
      "border=0 bgcolor='#000000'>");
  Append("<tr valign=bottom>");
  Append("<td valign=bottom class=menuitem style='color:#FFFFFF; border-top: 1px solid #FFFFFF;'>");
  if (issue) {
    IssuesBottomLeft();
  } else if (assignments) {
    BottomLeftMenu({{MapURL("/User/Personalize.asp"), "Settings...", ""},
                    {MapURL(Prop(kIssuesDownloadUrl)), "Download...", ""},
                    {MapURL(Prop(kIssuesPrinterFriendlyUrl)), std::string(kPrinterFriendly), "_blank"}});
  } else if (releaseNotes) {
    if (db_->Call("CanDoReleaseNotes").ToBool()) ReleaseNotesBottomLeft();
  } else if (search) {
    BottomLeftMenu({{MapURL("/User/PersonalizeSearch.asp"), "Settings...", ""},
                    {MapURL(Prop(kSearchDownloadUrl)), "Download...", ""},
                    {MapURL(Prop(kSearchPrinterFriendlyUrl)), std::string(kPrinterFriendly), "_blank"}});
  } else {
    BottomLeftMenu({{MapURL("/Reports/DailySummaryPrinterFriendly.asp?") + Prop(kRequestQueryString),
                     std::string(kPrinterFriendly), "_blank"}});
  }
  Append("</td>");
  Append("</tr>");
  Append("</table>");
}

// The URLs come mapped; every one is written as an attribute value.
void MenuSystem::BottomLeftMenu(const std::vector<Link>& links) {
  Procedure(kClass, "BottomLeftMenu", [&] {
    Append("<table cellpadding=3 cellspacing=0 border=0 bgcolor='#000000'>");
    for (const Link& l : links) {
      Append("<tr>");
      Append("<td class=menuitem style='color:#FFFFFF;'>");
      Append("<a class=MenuItem ");
      if (!l.target.empty()) Append("target='" + encode::HtmlAttribute(l.target) + "' ");
      Append("href='" + encode::HtmlAttribute(l.url) + "'>" + encode::HtmlText(l.text) + "</a>");
      Append("</td>");
      Append("</tr>");
    }
    Append("<tr><td class=menuitem style='color:#FFFFFF;'><img height=1px width=0px>");
    Append("</td></tr>");
    Append("</table>");
  });
}

// The two control tags stay as the controls' hosting expects them.
void MenuSystem::IssuesBottomLeft() {
  Procedure(kClass, "IssuesBottomLeft", [&] {
    Append("<table cellpadding=0 cellspacing=0 border=0 bgcolor='#000000'>");
    Append("<tr>");
    Append("<td style='width:3px'><div></div></td>");
    Append("<td colspan=2 class=menuitem style=\"background-image: url('" +
           encode::HtmlAttribute(MapURL("/images/CaptureCtl.png")) + "'); border-bottom: \">");
    Append("<object ");
    Append("CLASSID = 'clsid:141B3DC5-CE92-4C86-80EF-BB058AAD3684' ");
    Append("ID = 'CaptureCtl' ");
    Append("width='120px' height='65px' style='z-index: 0'>");
    Append("</object>");
    Append("<OBJECT style='z-index:1;' ");
    Append("CLASSID='clsid:B849DFE1-FADB-4C9E-B0F9-D3DAC3438F48' id=Keyboard1 VIEWASTEXT ");
    Append("> ");
    Append("</object>");
    Append("</td>");
    Append("</tr>");
    Append("</table>");
    const std::string& printer = Prop(kIssuePrinterFriendlyUrl);
    if (printer.empty()) return;
    Append("<table width=100% cellpadding=0 cellspacing=0 border=0 bgcolor='#000000'>");
    Append("<tr><td style='width:5px;'><div></div></td><td style='height:8px;'><div></div></td></tr>");
    Append("<tr><td></td><td bgcolor=#000000 style='height:2px'><div></div></td></tr>");
    Append("<tr><td></td><td bgcolor=#6294cd style='height:0px'><div></div></td></tr>");
    Append("<tr><td></td><td style='height:4px'><div></div></td></tr>");
    Append("<tr><td></td><td nowrap class=menuitem style='color:#FFFFFF;'>");
    Append("<a class=MenuItem href='" + encode::HtmlAttribute(printer) + "' target='_blank'>Printer friendly...");
    Append("</a>");
    Append("</td></tr>");
    Append("<tr><td></td><td class=menuitem style='color:#FFFFFF; height:10px;'><div></div></td></tr>");
    Append("</table>");
  });
}

void MenuSystem::ReleaseNotesBottomLeft() {
  Procedure(kClass, "ReleaseNotesBottomLeft", [&] {
    Append("<table cellpadding=3 cellspacing=0 border=0 bgcolor='#000000'>");
    Append("<tr>");
    Append("<td nowrap class=menuitem style='color:#FFFFFF;'>");
    Append("<a class=MenuItem href='" + encode::HtmlAttribute(Prop(kReleaseNotesDownloadAddressedUrl)) +
           "'>Download fixed...</a>");
    Append("</td>");
    Append("</tr>");
    Append("<tr>");
    Append("<td class=menuitem style='color:#FFFFFF;'>");
    Append("<a class=MenuItem href='" + encode::HtmlAttribute(Prop(kReleaseNotesDownloadKnownUrl)) +
           "'>Download known...</a>");
    Append("</td>");
    Append("</tr>");
    Append("<tr>");
    Append("<td class=menuitem style='color:#FFFFFF;'>");
    Append("<a class=MenuItem target='_blank' href='" + encode::HtmlAttribute(Prop(kReleaseNotesPrinterUrl)) +
           "'>Printer friendly...</a>");
    Append("</td>");
    Append("</tr>");
    Append("<tr><td class=menuitem style='color:#FFFFFF;'><img height=1px></td></tr>");
    Append("</table>");
  });
}

}  // namespace brisquel
