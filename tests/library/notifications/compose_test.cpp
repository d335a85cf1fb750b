// Composing a notification from its template: placeholder expansion, the MIME structure a
// template type gives, and the encodings of what goes out (checked on the written message).
#include <gtest/gtest.h>

#include "ado/ado.h"
#include "automation/vbdate.h"
#include "core/buffer.h"
#include "core/database.h"
#include "core/lookups.h"
#include "notifications/compose.h"
#include "notifications/email_config.h"
#include "smtp/smtp.h"
#include "support/mime.h"
#include "support/site_db.h"

namespace {

using brisquel::MessageComposer;
using brisquel::ValueContext;
namespace mime = testsupport::mime;

class Compose : public ::testing::Test {
 protected:
  Compose() : file(sitedb::FreshSite(true)), sql(file) {
    sql.Exec("update EMailConfiguration set FromEMailAddress = 'tracker@example.com', "
             "WebSiteURL = 'http://tracker.example.com/vantrel'");
    // A single-part type whose part is sent quoted-printable with a further parameter.
    sql.Exec("insert into EMailTemplateTypes (TemplateTypeName, Multipart) values ('Plain', 0)");
    sql.Exec("insert into EMailTemplateTypeParts (TemplateTypeName, PartName, PartOrder, ContentType, "
             "ContentTypeSubtype, ContentTypeCharset, ContentTypeAdditionalParameters, ContentTransferEncoding) "
             "values ('Plain', 'Body', 1, 'text', 'plain', 'us-ascii', 'format=flowed', 'quoted-printable')");
    db = sitedb::Open(file);
  }

  MessageComposer& Composer() {
    if (!composer)
      composer = std::make_unique<MessageComposer>(*db, "http://tracker.example.com/vantrel/",
                                                   brisquel::ReadFieldRepresentations(*db));
    return *composer;
  }

  std::string Format(const std::string& text, int issueId = 5, ValueContext context = ValueContext::Text) {
    std::optional<brisquel::IssueValues> issue = brisquel::ReadIssueValues(*db, issueId);
    EXPECT_TRUE(issue.has_value()) << issueId;
    return issue ? Composer().FormatMessage(*issue, "x@example.com", text, context) : std::string();
  }

  std::shared_ptr<smtp::SmtpMessagePart> Build(const std::string& templateName, int issueId = 5,
                                               const std::string& to = "alice@example.com") {
    auto config = brisquel::GetEMailConfigRs(*db);
    auto issue = brisquel::GetIssueRs(*db, issueId);
    auto tmpl = brisquel::GetEMailTemplateRs(*db, templateName);
    std::string type = tmpl->Value("TemplateTypeName").ToString();
    auto typeRs = brisquel::GetEMailTemplateTypeRs(*db, type);
    auto headers = brisquel::GetTemplateTypeHeadersRs(*db, type);
    auto parts = brisquel::GetTemplateTypePartsRs(*db, type);
    return Composer().BuildMailMessage(*config, to, *issue, *tmpl, *typeRs, headers.get(), *parts);
  }

  // The message as it would go on the wire, parsed back (the parser refuses anything malformed).
  mime::Entity Written(const std::shared_ptr<smtp::SmtpMessagePart>& m) {
    smtp::RenderedMessage out;
    std::string error;
    EXPECT_TRUE(smtp::RenderMessage(*m, out, error)) << error;
    return mime::Parse(out.data);
  }

  std::filesystem::path file;
  sitedb::Db sql;
  std::shared_ptr<brisquel::Database> db;
  std::unique_ptr<MessageComposer> composer;
};

TEST(ComposeHelpers, TrailingSlashAndEncodingCodes) {
  EXPECT_EQ(brisquel::AddTrailingSlash(""), "/");
  EXPECT_EQ(brisquel::AddTrailingSlash("http://x/a"), "http://x/a/");
  EXPECT_EQ(brisquel::AddTrailingSlash("http://x/a/"), "http://x/a/");
  EXPECT_EQ(brisquel::EncodingCode("Quoted-Printable"), 2);
  EXPECT_EQ(brisquel::EncodingCode("BASE64"), 1);
  EXPECT_EQ(brisquel::EncodingCode("binary"), 3);
  EXPECT_EQ(brisquel::EncodingCode("7bit"), 0);
  EXPECT_EQ(brisquel::EncodingCode("8bit"), 0);
  EXPECT_EQ(brisquel::EncodingCode("uuencode"), 0);
}

TEST(ComposeHelpers, FailureTextIsFittedKeepingTheErrorAndTheEndOfTheDialogue) {
  std::string log;
  for (int i = 0; i < 200; ++i) log += "250-line " + std::to_string(i) + " \xC3\xA9\xC3\xA9\r\n";
  std::string text = "Error: 550 (Mailbox unavailable)\r\nLog details follow:\r\n" + log + "550 final reply";
  std::string fitted = brisquel::FitFailureText(text, 1024);
  EXPECT_LE(brisquel::CharLength(fitted), 1024u);
  EXPECT_GE(brisquel::CharLength(fitted), 1000u);
  EXPECT_EQ(fitted.rfind("Error: 550 (Mailbox unavailable)\r\n", 0), 0u);
  EXPECT_EQ(fitted.substr(fitted.size() - 15), "550 final reply");
  EXPECT_EQ(brisquel::FitFailureText("short", 1024), "short");
  // An error line longer than the column keeps its beginning and the end of the text.
  std::string longHead = "Error: 1 (" + std::string(3000, 'x') + ")";
  std::string fittedHead = brisquel::FitFailureText(longHead, 1024);
  EXPECT_EQ(brisquel::CharLength(fittedHead), 1024u);
  EXPECT_EQ(fittedHead.rfind("Error: 1 (xxx", 0), 0u);
  EXPECT_EQ(fittedHead.back(), ')');
  // Still valid UTF-8: no character cut in two at either end of the gap.
  for (size_t i = 0; i < fitted.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(fitted[i]);
    if (c == 0xC3) {
      ASSERT_LT(i + 1, fitted.size());
      EXPECT_EQ(static_cast<unsigned char>(fitted[i + 1]), 0xA9);
    }
    if (c == 0xA9) {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(static_cast<unsigned char>(fitted[i - 1]), 0xC3);
    }
  }
}

TEST_F(Compose, PlaceholdersExpandOnceAndOddBracketsStayAsWritten) {
  sql.Exec("update Issues set Summary = 'see [IssueId] and [WebSiteUrl]' where IssueId = 5");
  EXPECT_EQ(Format("Issue [IssueId]: [Summary]"), "Issue 5: see [IssueId] and [WebSiteUrl]");
  EXPECT_EQ(Format("\\[IssueId] [IssueId"), "\\[IssueId] [IssueId");
  EXPECT_EQ(Format("[issueurl]|[IssueURL]"),
            "http://tracker.example.com/vantrel/Issues/Issue.asp?IssueId=5|"
            "http://tracker.example.com/vantrel/Issues/Issue.asp?IssueId=5");
  EXPECT_EQ(Format("[websiteURL][PROJECTCODE]"), "http://tracker.example.com/vantrel/Demo");
  EXPECT_EQ(Format("[NoSuchField] [] [a[IssueId] [O'Brien]"), "[NoSuchField] [] [a[IssueId] [O'Brien]");
  EXPECT_EQ(Format("[assignedtouser]/[CreatedByUserId]"), "bob/alice");
  EXPECT_EQ(Format("closed: [DateClosed]."), "closed: .");  // a null column
  EXPECT_EQ(Format("no brackets at all"), "no brackets at all");
}

TEST_F(Compose, CommentsFieldGivesTheNewestComment) {
  EXPECT_EQ(Format("[Comments]", 5), "");  // issue 5 has no comment
  sql.Exec("insert into IssueComments (IssueId, FieldName, CommentAuthor, CommentText, CommentCreatedOn) values "
           "(5, 'Comments', 'bob', 'older', '2024-03-04 09:05:00.000'), "
           "(5, 'Comments', 'carol', 'Looks fine', '2024-03-05 14:07:31.000')");
  EXPECT_EQ(Format("[comments]", 5), "carol on 3/5/2024 14:07 Looks fine");
}

TEST_F(Compose, ValuesAreMadeSafeForWhereTheyLand) {
  sql.Exec("update Issues set Summary = '<b>Tom & \"Jerry''s\"</b>' || char(13) || char(10) || 'line 2' "
           "where IssueId = 5");
  EXPECT_EQ(Format("<p>[Summary]</p>", 5, ValueContext::Html),
            "<p>&lt;b&gt;Tom &amp; &quot;Jerry&#39;s&quot;&lt;/b&gt;\r\nline 2</p>");
  EXPECT_EQ(Format("Re: [Summary]", 5, ValueContext::Header), "Re: <b>Tom & \"Jerry's\"</b> line 2");
  EXPECT_EQ(Format("[Summary]", 5, ValueContext::Text), "<b>Tom & \"Jerry's\"</b>\r\nline 2");
}

TEST_F(Compose, SeededTemplateGivesMultipartAlternative) {
  sql.Exec("update Issues set Summary = 'Crash <on> save' where IssueId = 5");
  sql.Exec("update EMailTemplateParts set PartContent = PartContent || '[Summary]' where PartName = 'HTML'");
  mime::Entity m = Written(Build("Assignment Notice"));

  EXPECT_EQ(mime::Mailboxes(m.Header("From")), std::vector<std::string>{"tracker@example.com"});
  EXPECT_EQ(mime::Mailboxes(m.Header("To")), std::vector<std::string>{"alice@example.com"});
  EXPECT_EQ(m.DecodedHeader("Subject"), "You've been assigned issue 5.");
  EXPECT_EQ(m.Header("X-Vantrel-IssueId"), "5");
  EXPECT_EQ(m.Header("X-Vantrel-ProjectCode"), "Demo");
  EXPECT_EQ(m.Header("X-Mailer"), "Vantrel V1.1.0");
  EXPECT_EQ(m.HeaderCount("Reply-to"), 0u);  // an empty header is left out
  EXPECT_EQ(m.Header("MIME-Version"), "1.0");
  EXPECT_EQ(m.MediaType(), "multipart/alternative");

  ASSERT_EQ(m.parts.size(), 2u);
  EXPECT_EQ(m.parts[0].MediaType(), "text/plain");
  EXPECT_EQ(m.parts[0].Parameter("charset"), "us-ascii");
  EXPECT_EQ(m.parts[0].TransferEncoding(), "7bit");
  EXPECT_EQ(m.parts[0].DecodedBody(),
            "The following issue has been assigned to you:\r\n"
            "http://tracker.example.com/vantrel/Issues/Issue.asp?IssueId=5\r\n\r\n--\r\nDo not reply to this email.");
  EXPECT_EQ(m.parts[1].MediaType(), "text/html");
  EXPECT_EQ(m.parts[1].DecodedBody(),
            "<body><p>The following issue has been assigned to you: <a "
            "href='http://tracker.example.com/vantrel/Issues/Issue.asp?IssueId=5'>5</a><p>\r\n"
            "<p>--<br>Do not reply to this email.</p></body>Crash &lt;on&gt; save");
}

TEST_F(Compose, MultipartLeavesOutEmptyPartsAndAddsPartHeaders) {
  sql.Exec("update EMailTemplateParts set PartContent = '   ' where PartName = 'Text'");
  sql.Exec("insert into EMailTemplateTypeParts (TemplateTypeName, PartName, PartOrder, ContentType, "
           "ContentTypeSubtype, ContentTypeCharset, ContentTypeAdditionalParameters, ContentTransferEncoding) "
           "values ('HTML', 'Data', 3, 'text', 'csv', 'us-ascii', 'header=present', 'base64')");
  sql.Exec("insert into EMailTemplateParts (TemplateName, TemplateTypeName, PartName, PartContent) values "
           "('Assignment Notice', 'HTML', 'Data', 'id,summary' || char(13) || char(10) || '[IssueId],[Summary]')");
  sql.Exec("insert into EMailTemplateTypePartHeaders (TemplateTypeName, PartName, HeaderFieldName, HeaderFieldValue) "
           "values ('HTML', 'Data', 'Content-Disposition', 'attachment; filename=issue-[IssueId].csv')");
  mime::Entity m = Written(Build("Assignment Notice"));
  ASSERT_EQ(m.parts.size(), 2u);
  EXPECT_EQ(m.parts[0].MediaType(), "text/html");
  EXPECT_EQ(m.parts[1].MediaType(), "text/csv");
  EXPECT_EQ(m.parts[1].Parameter("header"), "present");
  EXPECT_EQ(m.parts[1].Parameter("charset"), "us-ascii");
  EXPECT_EQ(m.parts[1].TransferEncoding(), "base64");
  EXPECT_EQ(m.parts[1].Header("Content-Disposition"), "attachment; filename=issue-5.csv");
  EXPECT_EQ(m.parts[1].DecodedBody(), "id,summary\r\n5,The issue list sorts dates as text");
}

TEST_F(Compose, SinglePartTypeAndTextBeyondAscii) {
  sql.Exec("insert into EMailTemplates (TemplateName, TemplateTypeName, Subject) values "
           "('Plain Notice', 'Plain', 'Grüße: [Summary]')");
  sql.Exec("insert into EMailTemplateParts (TemplateName, TemplateTypeName, PartName, PartContent) values "
           "('Plain Notice', 'Plain', 'Body', 'Résumé of [IssueId]: [Summary]')");
  sql.Exec("update Issues set Summary = 'Ünïcode ☃' where IssueId = 5");
  auto message = Build("Plain Notice", 5, "Bob Baker <bob@example.com>");
  EXPECT_EQ(message->MediaParameters(), "charset=\"utf-8\"; format=flowed");
  mime::Entity m = Written(message);
  EXPECT_FALSE(m.IsMultipart());
  EXPECT_EQ(m.MediaType(), "text/plain");
  EXPECT_EQ(m.Parameter("charset"), "utf-8");
  EXPECT_EQ(m.Parameter("format"), "flowed");
  EXPECT_EQ(m.TransferEncoding(), "quoted-printable");
  EXPECT_EQ(m.DecodedBody(), "Résumé of 5: Ünïcode ☃\r\n");  // a whole body ends with a line end
  EXPECT_EQ(m.DecodedHeader("Subject"), "Grüße: Ünïcode ☃");
  EXPECT_EQ(mime::Mailboxes(m.Header("To")), std::vector<std::string>{"bob@example.com"});

  // Plain ASCII keeps the declared charset.
  sql.Exec("update Issues set Summary = 'plain' where IssueId = 5");
  sql.Exec("update EMailTemplateParts set PartContent = 'Of [IssueId]: [Summary]' where TemplateName = 'Plain Notice'");
  composer.reset();
  auto ascii = Build("Plain Notice");
  EXPECT_EQ(ascii->MediaParameters(), "charset=\"us-ascii\"; format=flowed");
  EXPECT_EQ(Written(ascii).DecodedBody(), "Of 5: plain\r\n");
}

TEST_F(Compose, NonAsciiInASevenBitPartIsEncoded) {
  sql.Exec("update Issues set Summary = 'Café' where IssueId = 5");
  sql.Exec("update EMailTemplateParts set PartContent = '[Summary]' where PartName = 'Text'");
  mime::Entity m = Written(Build("Assignment Notice"));
  ASSERT_EQ(m.parts.size(), 2u);
  EXPECT_EQ(m.parts[0].Parameter("charset"), "utf-8");
  EXPECT_EQ(m.parts[0].TransferEncoding(), "quoted-printable");
  EXPECT_EQ(m.parts[0].DecodedBody(), "Café");
  EXPECT_EQ(m.parts[1].Parameter("charset"), "us-ascii");  // the HTML part stayed ASCII
}

TEST_F(Compose, TemplatesThatCannotBeBuiltRaise) {
  // A single-part type without any part row.
  sql.Exec("insert into EMailTemplateTypes (TemplateTypeName, Multipart) values ('Empty', 0)");
  sql.Exec("insert into EMailTemplates (TemplateName, TemplateTypeName, Subject) values ('Hollow', 'Empty', 's')");
  EXPECT_THROW(Build("Hollow"), automation::ComError);
  // A part of the type for which the template has no content.
  sql.Exec("insert into EMailTemplates (TemplateName, TemplateTypeName, Subject) values ('Partless', 'Plain', 's')");
  try {
    Build("Partless");
    ADD_FAILURE() << "no error";
  } catch (const automation::ComError& e) {
    EXPECT_NE(e.description.find("'Partless' has no content for its part 'Body'"), std::string::npos) << e.description;
    EXPECT_NE(e.source.find("Notifications.BuildMailMessage"), std::string::npos) << e.source;
  }
}

}  // namespace
