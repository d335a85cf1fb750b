// The sign-in form, shared by /Default.asp and by every page asked for without a sign-in.
#pragma once

#include <string_view>

namespace site {

class PageContext;

inline constexpr const char* kSignInRefused = "Invalid user id or password.";

// The form; after a successful sign-in the browser goes to `returnTo` when it is a local path.
void SendSignInForm(PageContext& page, std::string_view returnTo, std::string_view message);

}  // namespace site
