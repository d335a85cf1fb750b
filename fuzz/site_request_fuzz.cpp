// What the site host reads from a request (cookies, query strings, form bodies and their types, the
// path to go back to after sign-in) comes straight from the network: any bytes are read without a
// crash or a hang, and nothing but a local path ever counts as one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "site/request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view s(reinterpret_cast<const char*>(data), size);
  if (auto v = site::CookieValue(s, "VantrelSignIn"); v && v->size() > s.size()) __builtin_trap();
  const auto pairs = site::ParseUrlEncoded(site::QueryOf(s));
  size_t total = 0;
  for (const auto& [name, value] : pairs) total += name.size() + value.size();
  if (total > s.size()) __builtin_trap();
  (void)site::FirstValue(site::ParseUrlEncoded(s), "ReturnTo");
  // A Content-Type is multipart or url-encoded, never both.
  if (site::IsFormType(s, site::FormType::Multipart) && site::IsFormType(s, site::FormType::UrlEncoded))
    __builtin_trap();
  for (std::string_view root : {std::string_view("/APP"), std::string_view("")}) {
    if (!site::IsLocalPath(s, root)) continue;
    if (!s.starts_with(std::string(root) + "/") || s.starts_with("//") ||
        s.find_first_of("\\\r\n") != std::string_view::npos)
      __builtin_trap();
  }
  return 0;
}
