// Salted hashes of passwords and secret answers. Only the hash is stored; a login compares the
// entered text with it here, never with SQL.
#pragma once

#include <string>
#include <string_view>

namespace brisquel {

// An Argon2id hash string (libsodium crypto_pwhash_str, interactive limits) with its own salt and
// parameters. Raises the library's failure (RaiseFailure) when the library cannot start or runs
// out of memory.
std::string HashSecret(std::string_view secret);

// True when the secret matches the stored hash. An empty, truncated or otherwise malformed stored
// value matches nothing.
bool VerifySecret(std::string_view storedHash, std::string_view secret);

}  // namespace brisquel
