// Reading cookies, query strings and form bodies; the paths a sign-in may go back to.
#include "site/request.h"

#include <gtest/gtest.h>

namespace {

using namespace site;

TEST(RequestTest, CookieValueTakesTheFirstCookieOfThatExactName) {
  struct Case {
    std::string header;
    std::optional<std::string> value;
  } cases[] = {
      {"VantrelSignIn=abc", "abc"},
      {"a=1; VantrelSignIn=abc; VantrelSignIn=def", "abc"},
      {"  VantrelSignIn = \"q\" ;x=2", "q"},
      {"vantrelsignin=abc", std::nullopt},
      {"XVantrelSignIn=abc; VantrelSignIn", std::nullopt},
      {"", std::nullopt},
      {";;=;VantrelSignIn=", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CookieValue(c.header, "VantrelSignIn"), c.value) << c.header;
}

TEST(RequestTest, UrlEncodedPairsDecodePlusAndEscapes) {
  const NameValues pairs = ParseUrlEncoded("UserId=al+ice&Password=a%26b%3D&&flag&ReturnTo=%2FAPP%2Fx.asp%3Fa%3D1&bad=%zz");
  const NameValues expected{{"UserId", "al ice"}, {"Password", "a&b="}, {"flag", ""},
                            {"ReturnTo", "/APP/x.asp?a=1"}, {"bad", "%zz"}};
  EXPECT_EQ(pairs, expected);
  EXPECT_EQ(FirstValue(pairs, "userid"), "al ice");
  EXPECT_EQ(FirstValue(pairs, "missing"), std::nullopt);
}

TEST(RequestTest, AFormTypeIsItsMediaTypeAndAMultipartBodyNeedsItsBoundary) {
  struct Case {
    std::string contentType;
    bool multipart, urlEncoded;
  } cases[] = {
      {"multipart/form-data; boundary=----WebKitFormBoundaryx", true, false},
      {"Multipart/Form-Data;boundary=\"a b\"", true, false},
      {"multipart/form-data; charset=utf-8; BOUNDARY=x", true, false},
      {"multipart/form-data", false, false},
      {"multipart/form-data; boundary=", false, false},
      {"multipart/form-data; boundary=\"\"", false, false},
      {"multipart/form-dataX; boundary=x", false, false},
      {"multipart/mixed; boundary=x", false, false},
      {"application/x-www-form-urlencoded", false, true},
      {"Application/X-WWW-Form-Urlencoded; charset=UTF-8", false, true},
      {"application/x-www-form-urlencodedX", false, false},
      {"text/plain", false, false},
      {"application/json", false, false},
      {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsFormType(c.contentType, FormType::Multipart), c.multipart) << c.contentType;
    EXPECT_EQ(IsFormType(c.contentType, FormType::UrlEncoded), c.urlEncoded) << c.contentType;
    EXPECT_EQ(IsFormType(c.contentType, FormType::Either), c.multipart || c.urlEncoded) << c.contentType;
  }
}

TEST(RequestTest, QueryOfATarget) {
  EXPECT_EQ(QueryOf("/APP/a.asp?x=1&y=2#top"), "x=1&y=2");
  EXPECT_EQ(QueryOf("/APP/a.asp"), "");
}

TEST(RequestTest, OnlyPathsOfThisSiteBelowTheRootAreLocal) {
  for (const char* ok : {"/APP/Issues/Issue.asp?IssueId=3", "/APP/x"}) EXPECT_TRUE(IsLocalPath(ok, "/APP")) << ok;
  for (const char* bad : {"", "/APP", "/APPX/a.asp", "http://evil.example/APP/", "//evil.example/APP/",
                          "/APP/../etc", "/APP\\x", "/APP/a\r\nSet-Cookie: x", "/Other/a.asp"})
    EXPECT_FALSE(IsLocalPath(bad, "/APP")) << bad;
  EXPECT_TRUE(IsLocalPath("/Default.asp", ""));
  EXPECT_FALSE(IsLocalPath("//evil.example", ""));
}

}  // namespace
