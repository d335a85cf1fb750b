// Internals of the login shared with its tests.
#pragma once

#include <string_view>

namespace brisquel {

// The hash a login verifies against when the user id names no usable account, so that a failed
// login costs the same whether or not the user exists. Nobody knows its password.
std::string_view LoginDummyHash();

}  // namespace brisquel
