// What the e-mail configuration, rule and template writers share beside core/writer.h: the
// sentence of a save that another session overtook, and the refusal of a line break in a text
// that goes into a mail header or the SMTP dialogue.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ado/ado.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/multipart.h"
#include "core/writer.h"

namespace brisquel::mailforms {

inline constexpr const char* kConflict =
    "Another session has changed this information. You must cancel your changes.";
using brisquel::kPermissionDenied;

// A text that goes into a mail header or the SMTP dialogue (a host, a user id, an address, a
// subject, the site's URL) holds no line break, which would end the header or the command early
// when the mail is sent: "" when it holds none, otherwise the sentence naming the field.
inline std::string LineBreakRefusal(std::string_view value, std::string_view field) {
  if (value.find_first_of("\r\n") == std::string_view::npos) return {};
  return std::string(field) + " cannot contain a line break.";
}
// The same, refusing (Refuse) inside a writer.
inline void RefuseLineBreak(std::string_view value, std::string_view field) {
  if (std::string why = LineBreakRefusal(value, field); !why.empty()) Refuse(why);
}

}  // namespace brisquel::mailforms
