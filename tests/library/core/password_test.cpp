#include <gtest/gtest.h>

#include <string>

#include "core/password.h"

using brisquel::HashSecret;
using brisquel::VerifySecret;

namespace {

TEST(PasswordTest, AHashMatchesOnlyItsSecret) {
  std::string hash = HashSecret("open sesame");
  EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u);
  EXPECT_EQ(hash.find("open sesame"), std::string::npos);
  EXPECT_TRUE(VerifySecret(hash, "open sesame"));
  EXPECT_FALSE(VerifySecret(hash, "Open sesame"));
  EXPECT_FALSE(VerifySecret(hash, "open sesame "));
  EXPECT_FALSE(VerifySecret(hash, ""));
  // Salted: the same secret hashes differently each time, and both verify.
  std::string again = HashSecret("open sesame");
  EXPECT_NE(again, hash);
  EXPECT_TRUE(VerifySecret(again, "open sesame"));
}

TEST(PasswordTest, BlankAndUnusualSecrets) {
  std::string blank = HashSecret("");
  EXPECT_TRUE(VerifySecret(blank, ""));
  EXPECT_FALSE(VerifySecret(blank, " "));
  // Bytes after a NUL count.
  std::string withNul("a\0b", 3);
  std::string hash = HashSecret(withNul);
  EXPECT_TRUE(VerifySecret(hash, withNul));
  EXPECT_FALSE(VerifySecret(hash, "a"));
}

TEST(PasswordTest, StoredValuesThatAreNoHashMatchNothing) {
  EXPECT_FALSE(VerifySecret("", ""));
  EXPECT_FALSE(VerifySecret("secret", "secret"));  // a password kept as plain text
  std::string hash = HashSecret("secret");
  EXPECT_FALSE(VerifySecret(hash.substr(0, hash.size() - 5), "secret"));
  EXPECT_FALSE(VerifySecret(hash + std::string(200, 'x'), "secret"));
  EXPECT_FALSE(VerifySecret(std::string(hash).insert(12, 1, '\0'), "secret"));
  EXPECT_FALSE(VerifySecret("$argon2id$v=19$m=65536,t=2,p=1$garbage", "secret"));
}

}  // namespace
