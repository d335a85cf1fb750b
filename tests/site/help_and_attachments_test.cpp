// The help texts cover every page, and the headers a downloaded attachment goes out with.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "automation/text.h"
#include "site/pages/help/help_texts.h"
#include "site/pages/issues/attachments.h"
#include "site/routes.h"

namespace {

TEST(HelpTexts, EveryPageOfTheSiteAndOfTheMenuHasItsOwnText) {
  std::vector<std::string> paths;
  for (const std::string& p : site::RouteTable::Instance().Paths())
    if (!p.ends_with("/") && !p.starts_with("/test/")) paths.push_back(p);  // prefixes; this program's own pages
  // The pages of the Setup and User groups the menu names, served by their own files.
  for (const char* p : {"/Setup/Users.asp", "/Setup/User.asp", "/Setup/Groups.asp", "/Setup/Group.asp",
                        "/Setup/Projects.asp", "/Setup/Project.asp", "/Setup/ProjectModules.asp",
                        "/Setup/EMailNotifications.asp", "/Setup/EMailNotification.asp", "/Setup/CustomCodes.asp",
                        "/Setup/CustomCode.asp", "/Setup/SiteWorkflow.asp", "/Setup/SiteEntryForm.asp",
                        "/Setup/SiteCustomCodes.asp", "/Setup/SiteCustomCode.asp", "/Setup/SiteCustomFields.asp",
                        "/Setup/SiteCustomField.asp", "/Setup/EMailTemplates.asp", "/Setup/EMailTemplate.asp",
                        "/Setup/SiteEMailServer.asp", "/Setup/EMailServer.asp", "/Setup/SiteBackup.asp",
                        "/Setup/SiteRestore.asp", "/Setup/SiteWorkflowInquiry.asp", "/User/MyInfo.asp",
                        "/User/Personalize.asp", "/User/PersonalizeSearch.asp", "/User/SignUp.asp"})
    paths.push_back(p);
  for (const std::string& p : paths) {
    const site::help::Text* t = site::help::Find(p);
    ASSERT_NE(t, nullptr) << p;
    EXPECT_FALSE(t->title.empty() || t->purpose.empty() || t->who.empty()) << p;
  }
  std::set<std::string> seen;
  for (const site::help::Text& t : site::help::Texts())
    EXPECT_TRUE(seen.insert(automation::LowerAscii(t.path)).second) << "twice: " << t.path;
}

TEST(AttachmentDownload, TheNameTheDispositionAndTheTypeOfTheAnswer) {
  struct Name {
    std::string stored, name, disposition;
  };
  const Name names[] = {
      {"C:\\Users\\carol\\shot.bmp", "shot.bmp", "attachment; filename=\"shot.bmp\"; filename*=UTF-8''shot.bmp"},
      {"notes/a b.txt", "a b.txt", "attachment; filename=\"a b.txt\"; filename*=UTF-8''a%20b.txt"},
      {"Größe \"x\";\r\nSet-Cookie: y.pdf", "Größe \"x\";\r\nSet-Cookie: y.pdf",
       "attachment; filename=\"Gr__e _x_;__Set-Cookie: y.pdf\"; "
       "filename*=UTF-8''Gr%C3%B6%C3%9Fe%20%22x%22%3B%0D%0ASet-Cookie%3A%20y.pdf"},
      {"dir\\", "attachment", "attachment; filename=\"attachment\"; filename*=UTF-8''attachment"},
  };
  for (const Name& n : names) {
    EXPECT_EQ(site::AttachmentName(n.stored), n.name);
    EXPECT_EQ(site::AttachmentDisposition(site::AttachmentName(n.stored)), n.disposition);
  }
  const std::pair<std::string, std::string> types[] = {
      {"image/png", "image/png"},
      {"IMAGE/JPEG", "image/jpeg"},
      {"text/plain; charset=utf-8", "text/plain"},
      {"application/pdf", "application/pdf"},
      {"text/html", "application/octet-stream"},
      {"image/svg+xml", "application/octet-stream"},
      {"text/plain, text/html", "application/octet-stream"},
      {"", "application/octet-stream"},
  };
  for (const auto& [stored, sent] : types) EXPECT_EQ(site::AttachmentContentType(stored), sent) << stored;
}

}  // namespace
