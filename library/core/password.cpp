#include "core/password.h"

#include <sodium.h>

#include <string>

#include "core/error_protocol.h"

namespace brisquel {

namespace {

void StartSodium() {
  // sodium_init is idempotent and thread-safe; a negative result means no usable random source.
  static const int started = sodium_init();
  if (started < 0) RaiseFailure("The cryptographic library could not be started.");
}

}  // namespace

std::string HashSecret(std::string_view secret) {
  StartSodium();
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, secret.data(), secret.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    RaiseFailure("The password could not be hashed (out of memory).");
  }
  return std::string(out);
}

bool VerifySecret(std::string_view storedHash, std::string_view secret) {
  StartSodium();
  // The verifier needs a NUL-terminated string shorter than the buffer size; anything else is not
  // a hash this library wrote.
  if (storedHash.empty() || storedHash.size() >= crypto_pwhash_STRBYTES) return false;
  if (storedHash.find('\0') != std::string_view::npos) return false;
  if (storedHash.substr(0, 10) != "$argon2id$") return false;
  std::string stored(storedHash);
  return crypto_pwhash_str_verify(stored.c_str(), secret.data(), secret.size()) == 0;
}

}  // namespace brisquel
