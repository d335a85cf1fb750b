#include "site/request.h"

#include "automation/text.h"
#include "brisquel/encode.h"

namespace site {

namespace {

// A header's optional white space (spaces and tabs, not line ends) off both ends.
std::string_view TrimSpacesAndTabs(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string DecodeFormText(std::string_view s) {
  std::string plus(s);
  for (char& c : plus)
    if (c == '+') c = ' ';
  return brisquel::encode::DecodeUrlEscapes(plus);
}

}  // namespace

std::optional<std::string> CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t end = header.find(';');
    std::string_view item = TrimSpacesAndTabs(header.substr(0, end));
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos || TrimSpacesAndTabs(item.substr(0, eq)) != name) continue;
    std::string_view value = TrimSpacesAndTabs(item.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return std::nullopt;
}

NameValues ParseUrlEncoded(std::string_view text) {
  NameValues out;
  while (!text.empty()) {
    const size_t end = text.find('&');
    std::string_view item = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      out.emplace_back(DecodeFormText(item), std::string());
    } else {
      out.emplace_back(DecodeFormText(item.substr(0, eq)), DecodeFormText(item.substr(eq + 1)));
    }
  }
  return out;
}

std::optional<std::string> FirstValue(const NameValues& pairs, std::string_view name) {
  for (const auto& [n, v] : pairs)
    if (automation::EqualsNoCase(n, name)) return v;
  return std::nullopt;
}

namespace {

// The media type of a Content-Type value ("Multipart/Form-Data; boundary=x" gives
// "Multipart/Form-Data"), and its parameters after it.
std::string_view MediaType(std::string_view contentType, std::string_view& parameters) {
  const size_t semi = contentType.find(';');
  parameters = semi == std::string_view::npos ? std::string_view() : contentType.substr(semi + 1);
  return TrimSpacesAndTabs(contentType.substr(0, semi));
}

// Whether the parameters name a boundary of at least one character.
bool HasBoundary(std::string_view parameters) {
  while (!parameters.empty()) {
    const size_t semi = parameters.find(';');
    std::string_view item = TrimSpacesAndTabs(parameters.substr(0, semi));
    parameters = semi == std::string_view::npos ? std::string_view() : parameters.substr(semi + 1);
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos || !automation::EqualsNoCase(TrimSpacesAndTabs(item.substr(0, eq)), "boundary"))
      continue;
    std::string_view value = TrimSpacesAndTabs(item.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return !value.empty();
  }
  return false;
}

}  // namespace

bool IsFormType(std::string_view contentType, FormType type) {
  std::string_view parameters;
  const std::string_view media = MediaType(contentType, parameters);
  const bool multipart = automation::EqualsNoCase(media, "multipart/form-data") && HasBoundary(parameters);
  const bool urlEncoded = automation::EqualsNoCase(media, "application/x-www-form-urlencoded");
  switch (type) {
    case FormType::Multipart: return multipart;
    case FormType::UrlEncoded: return urlEncoded;
    case FormType::Either: return multipart || urlEncoded;
  }
  return false;
}

std::string_view QueryOf(std::string_view target) {
  const size_t q = target.find('?');
  if (q == std::string_view::npos) return {};
  std::string_view query = target.substr(q + 1);
  const size_t hash = query.find('#');
  return hash == std::string_view::npos ? query : query.substr(0, hash);
}

std::string HttpRequest::Header(std::string_view name) const { return FirstValue(headers, name).value_or(""); }

bool HttpRequest::HasHeader(std::string_view name) const { return FirstValue(headers, name).has_value(); }

void HttpResponse::SetHeader(std::string_view name, std::string_view value) {
  std::erase_if(headers, [&](const auto& h) { return automation::EqualsNoCase(h.first, name); });
  if (!value.empty()) headers.emplace_back(name, value);
}

std::string HttpResponse::Header(std::string_view name) const { return FirstValue(headers, name).value_or(""); }

std::string PathOf(std::string_view target) {
  return brisquel::encode::DecodeUrlEscapes(target.substr(0, target.find_first_of("?#")));
}

bool IsLocalPath(std::string_view path, std::string_view root) {
  if (!path.starts_with(root) || path.size() <= root.size() || path[root.size()] != '/') return false;
  if (path.starts_with("//")) return false;
  for (char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '\\') return false;
  }
  return path.find("/../") == std::string_view::npos && !path.ends_with("/..");
}

}  // namespace site
