// The SMTP layer against a real SMTP server on loopback; received messages are checked by parsing
// them with a strict MIME reader.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "smtp/smtp.h"
#include "support/mime.h"
#include "support/smtp_server.h"

namespace {

using smtp::SmtpMailer;
using smtp::SmtpMessagePart;
using testsupport::SmtpServer;
namespace mime = testsupport::mime;

std::shared_ptr<SmtpMailer> NewMailer(const SmtpServer& server, std::vector<std::string>* dialogue = nullptr) {
  auto m = std::make_shared<SmtpMailer>();
  m->SetServerHost(server.Host());
  m->SetServerPort(server.Port());
  m->SetTimeoutValue(5);
  m->SetDebugOutput(true);
  m->SetSessionOption(1);
  if (dialogue) m->SetDebugHandler([dialogue](const std::string& line) { dialogue->push_back(line); });
  return m;
}

std::shared_ptr<SmtpMessagePart> TextMessage(const std::string& to, const std::string& subject,
                                             const std::string& body) {
  auto m = std::make_shared<SmtpMessagePart>();
  m->Sender()->SetAddressText("tracker@example.com");
  m->SetRecipient(to);
  m->SetSubjectLine(subject);
  m->SetMediaType("text");
  m->SetMediaSubtype("plain");
  m->SetMediaParameters("charset=\"us-ascii\"");
  m->SetTransferEncoding("7bit");
  m->SetBodyText(body);
  return m;
}

// The body as sent: the transport ends it with a CRLF.
std::string Sent(const std::string& body) { return body + "\r\n"; }

bool Contains(const std::vector<std::string>& lines, const std::string& needle) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(needle) != std::string::npos; });
}

// "Tue, 05 Mar 2024 14:03:00 +0100"
bool IsMailDate(const std::string& d) {
  static const char* const kDays = "Mon Tue Wed Thu Fri Sat Sun";
  static const char* const kMonths = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec";
  const std::string shape = "Www, 00 Mmm 0000 00:00:00 +0000";
  if (d.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    char s = shape[i];
    if (s == '0' && !std::isdigit(static_cast<unsigned char>(d[i]))) return false;
    if ((s == ',' || s == ' ' || s == ':') && d[i] != s) return false;
  }
  return std::strstr(kDays, d.substr(0, 3).c_str()) && std::strstr(kMonths, d.substr(8, 3).c_str()) &&
         (d[26] == '+' || d[26] == '-');
}

std::string Base64(const std::string& s) {
  smtp::SmtpMessage enc;
  std::string out;
  enc.EncodeText(s, out, smtp::kEncodeBase64);
  return out;
}

// A mailer connected to a server of the test's own, its dialogue kept.
class Connected : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(mailer->ConnectServer()) << mailer->ErrorText(); }
  SmtpServer server;
  std::vector<std::string> dialogue;
  std::shared_ptr<SmtpMailer> mailer = NewMailer(server, &dialogue);
};
class SmtpDelivery : public Connected {};
class SmtpSession : public Connected {};
class SmtpDialogue : public Connected {};

// ---- the encoder ----

TEST(SmtpEncoder, Base64IsExactAndWrapped) {
  smtp::SmtpMessage enc;
  std::string out;
  enc.EncodeText("Man", out, 1);
  EXPECT_EQ(out, "TWFu");
  enc.EncodeText("Ma", out, 1);
  EXPECT_EQ(out, "TWE=");
  std::string text;
  for (int i = 0; i < 40; ++i) text += "Grüße \xE2\x82\xAC ";
  enc.EncodeText(text, out, 1);
  EXPECT_LE(mime::LongestLine(out), 76u);
  EXPECT_GT(out.find("\r\n"), 0u);
  EXPECT_EQ(mime::DecodeBase64(out), text);
}

TEST(SmtpEncoder, QuotedPrintableFollowsTheRules) {
  smtp::SmtpMessage enc;
  std::string out;
  enc.EncodeText("a=b", out, 2);
  EXPECT_EQ(out, "a=3Db");
  enc.EncodeText("trailing \r\nnext\t", out, 2);
  EXPECT_EQ(out, "trailing=20\r\nnext=09");
  enc.EncodeText("caf\xC3\xA9", out, 2);
  EXPECT_EQ(out, "caf=C3=A9");
  // Bare LF is a line break of the text; long lines get soft breaks.
  std::string text = std::string(200, 'x') + "\n" + std::string(75, '=') + "\nend";
  enc.EncodeText(text, out, 2);
  EXPECT_LE(mime::LongestLine(out), 76u);
  EXPECT_EQ(mime::DecodeQuotedPrintable(out),
            std::string(200, 'x') + "\r\n" + std::string(75, '=') + "\r\nend");
}

TEST(SmtpEncoder, IdentityModesSwitchAndBadModes) {
  smtp::SmtpMessage enc;
  std::string out;
  enc.EncodeText("a=b\r\n", out, 0);
  EXPECT_EQ(out, "a=b\r\n");
  enc.EncodeText("a=b\r\n", out, 3);
  EXPECT_EQ(out, "a=b\r\n");
  enc.SetEncoderSwitch(false);
  enc.EncodeText("a=b", out, 2);
  EXPECT_EQ(out, "a=b");
  try {
    enc.EncodeText("x", out, 4);
    FAIL() << "mode 4 accepted";
  } catch (const automation::ComError& e) {
    EXPECT_EQ(e.number, 5);
  }
  EXPECT_THROW(enc.SetEncodingMode(-1), automation::ComError);
}

// ---- messages as received ----

TEST_F(SmtpDelivery, SinglePartMessageCarriesHeadersAndBody) {
  EXPECT_EQ(mailer->ConnectionState(), smtp::kStateConnected);
  auto m = TextMessage("Dana Reyes <dana@example.org>", "Issue 42 changed", "Line one\r\nLine two");
  m->HeaderList()->AddHeader("X-Vantrel-IssueId", "42");
  m->HeaderList()->AddHeader("Reply-to", "");  // empty: left out
  m->HeaderList()->AddHeader("X-Mailer", "Vantrel V1.1.0");
  m->HeaderList()->AddHeader("Subject", "a second subject");  // the message's own: left out
  ASSERT_TRUE(mailer->SendMessage(m)) << mailer->ErrorText();
  EXPECT_EQ(mailer->ErrorCode(), 0);
  ASSERT_TRUE(mailer->SendMessage(m)) << mailer->ErrorText();

  auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].from, "tracker@example.com");
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"dana@example.org"});
  mime::Entity e = mime::Parse(mails[0].data);
  EXPECT_EQ(e.Header("From"), "tracker@example.com");
  EXPECT_EQ(e.Header("To"), "Dana Reyes <dana@example.org>");
  EXPECT_EQ(e.DecodedHeader("Subject"), "Issue 42 changed");
  EXPECT_EQ(e.HeaderCount("Subject"), 1u);
  EXPECT_EQ(e.Header("MIME-Version"), "1.0");
  EXPECT_EQ(e.MediaType(), "text/plain");
  EXPECT_EQ(e.Parameter("charset"), "us-ascii");
  EXPECT_EQ(e.TransferEncoding(), "7bit");
  EXPECT_EQ(e.HeaderCount("Reply-to"), 0u);
  EXPECT_TRUE(IsMailDate(e.Header("Date"))) << e.Header("Date");
  std::string id = e.Header("Message-ID");
  EXPECT_TRUE(id.size() > 4 && id.front() == '<' && id.back() == '>' && std::count(id.begin(), id.end(), '@') == 1 &&
              id.find(' ') == std::string::npos)
      << id;
  EXPECT_NE(e.Header("Message-ID"), mime::Parse(mails[1].data).Header("Message-ID"));
  // The list headers keep the order they were added in.
  auto names = e.HeaderNames();
  auto issue = std::find(names.begin(), names.end(), "X-Vantrel-IssueId");
  auto mailerName = std::find(names.begin(), names.end(), "X-Mailer");
  ASSERT_NE(issue, names.end());
  ASSERT_NE(mailerName, names.end());
  EXPECT_LT(issue, mailerName);
  EXPECT_EQ(e.DecodedBody(), Sent("Line one\r\nLine two"));
}

TEST_F(SmtpDelivery, MultipartKeepsPartsInOrderWithTheirEncodings) {

  const std::string text = "Assigned to you:\r\nhttp://tracker/Issues/Issue.asp?IssueId=7\r\n\r\n--\r\nDo not reply.";
  const std::string html = "<body><p>Issue <a href='x'>7</a> = caf\xC3\xA9</p>\r\n<p>--<br>Do not reply.</p></body>";
  smtp::SmtpMessage enc;
  auto m = std::make_shared<SmtpMessagePart>();
  m->Sender()->SetAddressText("tracker@example.com");
  m->SetRecipient("dana@example.org");
  m->SetSubjectLine("You've been assigned issue 7.");
  m->SetMimeVersion("1.0");
  m->SetMediaType("multipart");
  m->SetMediaSubtype("alternative");
  auto p1 = m->PartList()->AddPart("Text");
  p1->SetMediaType("text");
  p1->SetMediaSubtype("plain");
  p1->SetMediaParameters("charset=\"us-ascii\"");
  p1->SetTransferEncoding("base64");
  std::string encoded;
  enc.EncodeText(text, encoded, smtp::kEncodeBase64);
  p1->SetBodyText(encoded);
  auto p2 = m->PartList()->AddPart("HTML");
  p2->SetMediaType("text");
  p2->SetMediaSubtype("html");
  p2->SetMediaParameters("charset=\"utf-8\"; format=flowed");
  p2->SetTransferEncoding("quoted-printable");
  p2->HeaderList()->AddHeader("Content-Disposition", "inline");
  p2->HeaderList()->AddHeader("Content-Type", "text/evil");  // the part's own: left out
  enc.EncodeText(html, encoded, smtp::kEncodeQuotedPrintable);
  p2->SetBodyText(encoded);
  ASSERT_TRUE(mailer->SendMessage(m)) << mailer->ErrorText();

  auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  mime::Entity e = mime::Parse(mails[0].data);
  EXPECT_EQ(e.MediaType(), "multipart/alternative");
  ASSERT_EQ(e.parts.size(), 2u);
  EXPECT_EQ(e.parts[0].MediaType(), "text/plain");
  EXPECT_EQ(e.parts[0].TransferEncoding(), "base64");
  EXPECT_EQ(e.parts[0].DecodedBody(), text);
  EXPECT_EQ(e.parts[1].MediaType(), "text/html");
  EXPECT_EQ(e.parts[1].Parameter("charset"), "utf-8");
  EXPECT_EQ(e.parts[1].Parameter("format"), "flowed");
  EXPECT_EQ(e.parts[1].TransferEncoding(), "quoted-printable");
  EXPECT_EQ(e.parts[1].Header("Content-Disposition"), "inline");
  EXPECT_EQ(e.parts[1].HeaderCount("Content-Type"), 1u);
  EXPECT_EQ(e.parts[1].DecodedBody(), html);
  EXPECT_EQ(e.DecodedHeader("Subject"), "You've been assigned issue 7.");
}

TEST_F(SmtpDelivery, MultipartWithoutPartsGoesAsOnePlainBody) {
  auto m = TextMessage("dana@example.org", "empty", "");
  m->SetMediaType("multipart");
  m->SetMediaSubtype("alternative");
  ASSERT_TRUE(mailer->SendMessage(m)) << mailer->ErrorText();
  ASSERT_EQ(server.MessageCount(), 1u);
  EXPECT_EQ(mime::Parse(server.Messages()[0].data).MediaType(), "text/plain");
}

TEST_F(SmtpDelivery, NonAsciiHeadersAreEncodedWords) {
  std::string subject = "Ticket über Größe \xE2\x82\xAC and a long tail";
  for (int i = 0; i < 6; ++i) subject += " - \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E words";
  auto m = TextMessage("\"Reyes, Dana\" <dana@example.org>", subject, "body");
  m->Sender()->SetAddressText("Jürgen Tracker <tracker@example.com>");
  m->HeaderList()->AddHeader("X-Project", "Änderung =?not-a-word?=");
  ASSERT_TRUE(mailer->SendMessage(m)) << mailer->ErrorText();

  auto mail = server.Messages().at(0);
  mime::Entity e = mime::Parse(mail.data);  // throws on raw 8-bit header text
  EXPECT_EQ(e.DecodedHeader("Subject"), subject);
  EXPECT_EQ(e.DecodedHeader("X-Project"), "Änderung =?not-a-word?=");
  EXPECT_EQ(mime::Mailboxes(e.Header("From")), std::vector<std::string>{"tracker@example.com"});
  EXPECT_NE(e.DecodedHeader("From").find("Jürgen Tracker"), std::string::npos);
  EXPECT_EQ(mime::Mailboxes(e.Header("To")), std::vector<std::string>{"dana@example.org"});
  EXPECT_NE(e.Header("To").find("\"Reyes, Dana\""), std::string::npos);
  for (const auto& line : std::vector<std::string>{mail.data.substr(0, mail.data.find("\r\n\r\n"))}) {
    EXPECT_LE(mime::LongestLine(line), 998u);
  }
}

TEST_F(SmtpDelivery, BodyLinesSurviveTheTransport) {
  // Lines that SMTP treats specially, bare line ends, and a line too long for SMTP.
  std::string longLine(2000, 'y');
  auto m = TextMessage("dana@example.org", "dots", ".\n.hidden\r\n..two\rend\n" + longLine);
  ASSERT_TRUE(mailer->SendMessage(m)) << mailer->ErrorText();
  mime::Entity e = mime::Parse(server.Messages().at(0).data);
  EXPECT_EQ(e.TransferEncoding(), "quoted-printable");  // the only way such a line can travel
  EXPECT_EQ(e.DecodedBody(), Sent(".\r\n.hidden\r\n..two\r\nend\r\n" + longLine));

  auto plain = TextMessage("dana@example.org", "dots", ".\n.hidden");
  ASSERT_TRUE(mailer->SendMessage(plain)) << mailer->ErrorText();
  mime::Entity p = mime::Parse(server.Messages().at(1).data);
  EXPECT_EQ(p.TransferEncoding(), "7bit");
  EXPECT_EQ(p.DecodedBody(), Sent(".\r\n.hidden"));
}

TEST_F(SmtpDelivery, SendTextWithCopiesAndBlindCopies) {
  ASSERT_TRUE(mailer->SendText("tracker@example.com", "admin@example.org", "Vantrel test message",
                               "This message is a test.\r\n\r\nDo not reply; caf\xC3\xA9.",
                               "cc1@example.org", "hidden@example.org"))
      << mailer->ErrorText();
  auto mail = server.Messages().at(0);
  EXPECT_EQ(mail.recipients,
            (std::vector<std::string>{"admin@example.org", "cc1@example.org", "hidden@example.org"}));
  mime::Entity e = mime::Parse(mail.data);
  EXPECT_EQ(e.Header("Cc"), "cc1@example.org");
  EXPECT_EQ(e.HeaderCount("Bcc"), 0u);
  EXPECT_EQ(mail.data.find("hidden@"), std::string::npos);
  EXPECT_EQ(e.DecodedBody(), Sent("This message is a test.\r\n\r\nDo not reply; caf\xC3\xA9."));
}

TEST_F(SmtpDelivery, LineBreaksInHeadersAndAddressesAreRefused) {
  std::vector<std::function<void(SmtpMessagePart&)>> faults = {
      [](SmtpMessagePart& m) { m.HeaderList()->AddHeader("X-Title", "x\r\nBcc: victim@example.net"); },
      [](SmtpMessagePart& m) { m.SetSubjectLine("Hello\nBcc: victim@example.net"); },
      [](SmtpMessagePart& m) { m.SetRecipient("dana@example.org\r\nRCPT TO:<victim@example.net>"); },
      [](SmtpMessagePart& m) { m.Sender()->SetAddressText("tracker@example.com\r"); },
      [](SmtpMessagePart& m) { m.SetMediaParameters("charset=us-ascii\r\nX-Evil: 1"); },
      [](SmtpMessagePart& m) { m.HeaderList()->AddHeader("X Bad Name", "v"); },
      [](SmtpMessagePart& m) { m.SetRecipient(""); },
      [](SmtpMessagePart& m) { m.Sender()->SetAddressText(""); },
      [](SmtpMessagePart& m) { m.SetRecipient("not an address"); },
  };
  for (size_t i = 0; i < faults.size(); ++i) {
    auto m = TextMessage("dana@example.org", "s", "b");
    faults[i](*m);
    EXPECT_FALSE(mailer->SendMessage(m)) << i;
    EXPECT_EQ(mailer->ErrorCode(), smtp::kErrInvalidMessage) << i;
    EXPECT_FALSE(mailer->ErrorText().empty()) << i;
  }
  EXPECT_EQ(server.MessageCount(), 0u);
  EXPECT_FALSE(Contains(server.Commands(), "MAIL FROM"));
  // The session is still good.
  EXPECT_TRUE(mailer->SendMessage(TextMessage("dana@example.org", "s", "b"))) << mailer->ErrorText();
}

// ---- sessions and failures ----

TEST_F(SmtpSession, OneSessionCarriesManyMessagesUntilDisconnect) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(mailer->SendMessage(TextMessage("dana@example.org", "n" + std::to_string(i), "b")));
    EXPECT_EQ(mailer->ConnectionState(), smtp::kStateConnected);
  }
  EXPECT_EQ(server.SessionCount(), 1);
  EXPECT_EQ(server.MessageCount(), 3u);
  mailer->Disconnect();
  EXPECT_EQ(mailer->ConnectionState(), smtp::kStateDisconnected);
  EXPECT_EQ(server.Commands().back(), "QUIT");
  EXPECT_FALSE(mailer->SendMessage(TextMessage("dana@example.org", "late", "b")));
  EXPECT_EQ(mailer->ErrorCode(), smtp::kErrNotConnected);
}

TEST_F(SmtpSession, DroppedSessionIsOpenedAgain) {
  ASSERT_TRUE(mailer->SendMessage(TextMessage("dana@example.org", "1", "b")));
  server.DropConnections();
  ASSERT_TRUE(mailer->SendMessage(TextMessage("dana@example.org", "2", "b"))) << mailer->ErrorText();
  EXPECT_EQ(server.SessionCount(), 2);
  EXPECT_EQ(server.Messages().at(1).session, 2);
}

TEST_F(SmtpSession, RefusedRecipientIsReportedAndNothingIsDelivered) {
  server.RejectRecipient("gone@example.org");

  EXPECT_FALSE(mailer->SendMessage(TextMessage("gone@example.org", "s", "b")));
  EXPECT_EQ(mailer->ErrorCode(), 550);
  EXPECT_NE(mailer->ErrorText().find("gone@example.org"), std::string::npos) << mailer->ErrorText();
  EXPECT_NE(mailer->ErrorText().find("Mailbox unavailable"), std::string::npos) << mailer->ErrorText();

  // One refused among several: nobody gets the message, and the report names only the refused one.
  EXPECT_FALSE(mailer->SendMessage(TextMessage("dana@example.org, gone@example.org; lee@example.org", "s", "b")));
  EXPECT_EQ(mailer->ErrorCode(), 550);
  EXPECT_NE(mailer->ErrorText().find("<gone@example.org>"), std::string::npos);
  EXPECT_EQ(mailer->ErrorText().find("dana@"), std::string::npos);
  EXPECT_EQ(server.MessageCount(), 0u);

  // The next message goes (on a new session) and clears the error.
  ASSERT_TRUE(mailer->SendMessage(TextMessage("dana@example.org; lee@example.org", "s", "b"))) << mailer->ErrorText();
  EXPECT_EQ(mailer->ErrorCode(), 0);
  EXPECT_EQ(mailer->ErrorText(), "");
  auto mail = server.Messages().at(0);
  EXPECT_EQ(mail.recipients, (std::vector<std::string>{"dana@example.org", "lee@example.org"}));
  EXPECT_EQ(mime::Mailboxes(mime::Parse(mail.data).Header("To")), mail.recipients);
}

TEST_F(SmtpSession, RefusedMessageDataIsReported) {
  server.SetDataReply(554, "5.6.0 Message content rejected");
  EXPECT_FALSE(mailer->SendMessage(TextMessage("dana@example.org", "s", "b")));
  EXPECT_EQ(mailer->ErrorCode(), 554);
  EXPECT_EQ(mailer->ErrorText(), "5.6.0 Message content rejected");
}

TEST(SmtpConnect, ConnectFailuresLeaveTheStateAndTheError) {
  int port;
  {
    SmtpServer gone;
    port = gone.Port();
  }
  std::vector<std::string> dialogue;
  auto mailer = std::make_shared<SmtpMailer>();
  mailer->SetDebugOutput(true);
  mailer->SetDebugHandler([&](const std::string& l) { dialogue.push_back(l); });
  mailer->SetServerHost("127.0.0.1");
  mailer->SetServerPort(port);
  EXPECT_FALSE(mailer->ConnectServer());
  EXPECT_NE(mailer->ConnectionState(), smtp::kStateConnected);
  EXPECT_EQ(mailer->ErrorCode(), CURLE_COULDNT_CONNECT);
  EXPECT_FALSE(mailer->ErrorText().empty());
  EXPECT_TRUE(dialogue.empty());  // nothing was said

  SmtpServer::Options closed;
  closed.greetingCode = 554;
  SmtpServer refusing(closed);
  auto m2 = NewMailer(refusing);
  EXPECT_FALSE(m2->ConnectServer());
  EXPECT_EQ(m2->ErrorCode(), 554);
  EXPECT_EQ(m2->ErrorText(), "5.3.2 Service not available");

  auto m3 = std::make_shared<SmtpMailer>();
  EXPECT_FALSE(m3->ConnectServer());
  EXPECT_EQ(m3->ErrorCode(), smtp::kErrInvalidSetting);
  m3->SetServerHost("mail.example.com/evil");
  EXPECT_FALSE(m3->ConnectServer());
  EXPECT_EQ(m3->ErrorCode(), smtp::kErrInvalidSetting);
  m3->SetServerHost("127.0.0.1");
  m3->SetServerPort(70000);
  EXPECT_FALSE(m3->ConnectServer());
  EXPECT_EQ(m3->ErrorCode(), smtp::kErrInvalidSetting);
}

TEST(SmtpConnect, SilentServerEndsInTimeoutNotAHang) {
  SmtpServer::Options o;
  o.silent = true;
  SmtpServer server(o);
  auto mailer = NewMailer(server);
  mailer->SetTimeoutValue(1);
  EXPECT_FALSE(mailer->ConnectServer());
  EXPECT_EQ(mailer->ErrorCode(), CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(mailer->ConnectionState(), smtp::kStateDisconnected);
}

TEST(SmtpConnect, StartTlsIsTriedWhenOffered) {
  SmtpServer::Options o;
  o.offerStartTls = true;
  SmtpServer server(o);
  std::vector<std::string> dialogue;
  auto mailer = NewMailer(server, &dialogue);
  ASSERT_TRUE(mailer->ConnectServer()) << mailer->ErrorText();
  EXPECT_TRUE(Contains(server.Commands(), "STARTTLS"));
  EXPECT_TRUE(Contains(dialogue, "454 4.7.0 TLS not available"));
  EXPECT_TRUE(mailer->SendMessage(TextMessage("dana@example.org", "s", "b")));

  auto strict = NewMailer(server);
  strict->SetSessionOption(smtp::kSessionStartTlsRequired);
  EXPECT_FALSE(strict->ConnectServer());
  EXPECT_NE(strict->ErrorCode(), 0);
}

// ---- the dialogue and the login ----

TEST_F(SmtpDialogue, DebugGivesEachProtocolLineInOrder) {
  ASSERT_TRUE(mailer->SendMessage(TextMessage("dana@example.org", "s", "secret body text")));

  ASSERT_GE(dialogue.size(), 8u);
  EXPECT_EQ(dialogue[0], "220 vantrel-test ESMTP ready");
  EXPECT_EQ(dialogue[1].substr(0, 5), "EHLO ");
  EXPECT_EQ(dialogue[2].substr(0, 4), "250-");  // a multi-line reply, one line each
  std::vector<std::string> expected = {"NOOP", "250 2.0.0 Ok", "MAIL FROM:<tracker@example.com>",
                                       "250 2.1.0 Ok", "RCPT TO:<dana@example.org>", "250 2.1.5 Ok",
                                       "DATA", "354 End data with <CR><LF>.<CR><LF>", "250 2.0.0 Ok: queued"};
  auto from = std::find(dialogue.begin(), dialogue.end(), "NOOP");
  ASSERT_NE(from, dialogue.end());
  std::vector<std::string> tail(from, dialogue.end());
  ASSERT_EQ(tail.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    // MAIL FROM may carry a SIZE parameter.
    EXPECT_EQ(tail[i].substr(0, expected[i].size()), expected[i]) << i;
  }
  for (const auto& line : dialogue) EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
  EXPECT_FALSE(Contains(dialogue, "secret body text"));

  std::vector<std::string> quiet;
  auto silent = NewMailer(server, &quiet);
  silent->SetDebugOutput(false);
  ASSERT_TRUE(silent->ConnectServer());
  ASSERT_TRUE(silent->SendMessage(TextMessage("dana@example.org", "s", "b")));
  EXPECT_TRUE(quiet.empty());
}

struct LoginCase {
  std::string mechanisms;
  int32_t scheme;
};

class SmtpLogin : public ::testing::TestWithParam<LoginCase> {};

TEST_P(SmtpLogin, CredentialsReachTheServerButNeverTheDialogue) {
  SmtpServer::Options o;
  o.user = "notifier";
  o.password = "S3cret!pw";
  o.mechanisms = GetParam().mechanisms;
  o.requireAuth = true;
  SmtpServer server(o);
  std::vector<std::string> dialogue;
  auto mailer = NewMailer(server, &dialogue);
  mailer->SetLoginSetting(1);
  mailer->SetLoginScheme(GetParam().scheme);
  mailer->SetLoginUser("notifier");
  mailer->SetLoginPassword("S3cret!pw");
  ASSERT_TRUE(mailer->ConnectServer()) << mailer->ErrorText();
  ASSERT_TRUE(mailer->SendMessage(TextMessage("dana@example.org", "s", "b"))) << mailer->ErrorText();
  EXPECT_EQ(server.Messages().at(0).user, "notifier");

  EXPECT_TRUE(Contains(dialogue, "AUTH "));
  EXPECT_TRUE(Contains(dialogue, "235 "));
  const std::vector<std::string> secrets = {"S3cret!pw", "notifier", Base64(std::string("\0notifier\0S3cret!pw", 19)),
                                            Base64("notifier"), Base64("S3cret!pw")};
  for (const auto& s : secrets) {
    EXPECT_FALSE(Contains(dialogue, s)) << s;
  }
  // The server did receive them: the masking is in the dialogue only.
  auto commands = server.Commands();
  EXPECT_TRUE(Contains(commands, Base64("S3cret!pw")) || Contains(commands, Base64(std::string("\0notifier\0S3cret!pw", 19))));

  // A wrong password: no connection, the server's reply as the error, still nothing secret shown.
  dialogue.clear();
  auto wrong = NewMailer(server, &dialogue);
  wrong->SetLoginSetting(1);
  wrong->SetLoginScheme(GetParam().scheme);
  wrong->SetLoginUser("notifier");
  wrong->SetLoginPassword("guess");
  EXPECT_FALSE(wrong->ConnectServer());
  EXPECT_NE(wrong->ConnectionState(), smtp::kStateConnected);
  EXPECT_EQ(wrong->ErrorCode(), 535);
  EXPECT_EQ(wrong->ErrorText(), "5.7.8 Authentication credentials invalid");
  EXPECT_FALSE(Contains(dialogue, Base64("guess")));
  EXPECT_FALSE(Contains(dialogue, Base64(std::string("\0notifier\0guess", 15))));
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, SmtpLogin,
                         ::testing::Values(LoginCase{"PLAIN LOGIN", smtp::kLoginAnyScheme},
                                           LoginCase{"LOGIN", smtp::kLoginAnyScheme},
                                           LoginCase{"PLAIN LOGIN", smtp::kLoginLogin}));

TEST(SmtpLoginRequired, NoLoginWithoutUserAndTheServerSaysSo) {
  SmtpServer::Options o;
  o.user = "notifier";
  o.password = "pw";
  o.requireAuth = true;
  SmtpServer server(o);
  auto mailer = NewMailer(server);
  mailer->SetLoginSetting(1);  // switched on, but no user: nothing to log in with
  mailer->SetLoginPassword("pw");
  ASSERT_TRUE(mailer->ConnectServer()) << mailer->ErrorText();
  EXPECT_FALSE(Contains(server.Commands(), "AUTH"));
  EXPECT_FALSE(mailer->SendMessage(TextMessage("dana@example.org", "s", "b")));
  EXPECT_EQ(mailer->ErrorCode(), 530);
  EXPECT_EQ(mailer->ErrorText(), "5.7.0 Authentication required");
}

// ---- by name, as the late-bound callers use it ----

TEST(SmtpByName, MessageBuiltAndSentThroughTheAutomationInterface) {
  SmtpServer server;
  using automation::Variant;
  auto mailer = automation::CreateObject("SmtpX.SmtpMailer");
  mailer->Put("ServerHost", Variant(server.Host()));
  mailer->Put("ServerPort", Variant(static_cast<int32_t>(server.Port())));
  mailer->Put("TimeoutValue", Variant::Integer(5));
  mailer->Put("DebugOutput", Variant(true));
  mailer->Put("SessionOption", Variant(1));
  mailer->Call("ConnectServer");
  ASSERT_EQ(mailer->Get("ConnectionState").ToLong(), 3);

  auto encoder = automation::CreateObject("SmtpX.SmtpMessage");
  encoder->Put("EncoderSwitch", Variant(true));
  encoder->Put("EncodingMode", Variant(1));
  std::vector<Variant> args = {Variant("body text"), Variant(), encoder->Get("EncodingMode")};
  encoder->Call("EncodeText", args);
  EXPECT_EQ(args[1].ToString(), "Ym9keSB0ZXh0");

  auto msg = automation::CreateObject("SmtpX.SmtpMessagePart");
  msg->Put("MimeVersion", Variant("1.0"));
  msg->Put("MediaType", Variant("multipart"));
  msg->Put("MediaSubtype", Variant("alternative"));
  msg->Put("SubjectLine", Variant("by name"));
  msg->Put("Recipient", Variant("dana@example.org"));
  msg->Get("Sender").ToObject()->Put("AddressText", Variant("tracker@example.com"));
  msg->Get("HeaderList").ToObject()->Call("AddHeader", {Variant("X-Vantrel-IssueId"), Variant("9")});
  auto part = msg->Get("PartList").ToObject()->Call("AddPart", {Variant("Text")}).ToObject();
  part->Put("MediaType", Variant("text"));
  part->Put("MediaSubtype", Variant("plain"));
  part->Put("TransferEncoding", Variant("base64"));
  part->Put("BodyText", args[1]);
  mailer->Call("SendMessage", {Variant(msg)});
  EXPECT_EQ(mailer->Get("ErrorCode").ToLong(), 0) << mailer->Get("ErrorText").ToString();
  mailer->Call("Disconnect");

  mime::Entity e = mime::Parse(server.Messages().at(0).data);
  EXPECT_EQ(e.Header("X-Vantrel-IssueId"), "9");
  ASSERT_EQ(e.parts.size(), 1u);
  EXPECT_EQ(e.parts[0].DecodedBody(), "body text");
}

}  // namespace
