// The files the site serves itself: those of site/static, built into the program, and the control
// library's files from its folder.
#pragma once

#include <string_view>

#include "site/command_line.h"
#include "site/request.h"

namespace site {

struct StaticFile {
  std::string_view name;  // "vantrel.css", "images/spacer.gif"
  std::string_view bytes;
};
// The files of site/static, built into the program.
const StaticFile* FindStaticFile(std::string_view name);
// The Content-Type of a file name by its extension.
std::string_view ContentTypeOf(std::string_view name);

// Answers a GET or HEAD of one of the site's own files (stylesheet, script, images, the control
// library) and returns true; false when the request names none of them.
bool ServeOwnFile(const SiteOptions& options, const HttpRequest& req, HttpResponse& res);

}  // namespace site
