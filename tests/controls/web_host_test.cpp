// Runs under node only: the page side is absent, but what the host hands to it can be checked.
#include <gtest/gtest.h>

#include "host/web_host.h"

namespace tamsolo {
namespace {

using automation::Variant;

TEST(WebHost, EventArgumentsReachThePageAsJson) {
  EXPECT_EQ(ArgumentsJson({}), "[]");
  EXPECT_EQ(ArgumentsJson({Variant(1), Variant(2.5), Variant(true), Variant::Null(), Variant()}),
            "[1,2.5,true,null,null]");
  EXPECT_EQ(ArgumentsJson({Variant("say \"hi\"\\\n\u00e9")}), "[\"say \\\"hi\\\"\\\\\\u000a\u00e9\"]");
  EXPECT_EQ(ArgumentsJson({Variant::Integer(7), Variant(std::vector<Variant>{Variant("a"), Variant(1)}),
                           Variant(std::shared_ptr<automation::Object>())}),
            "[7,[\"a\",1],null]");
}

}  // namespace
}  // namespace tamsolo
