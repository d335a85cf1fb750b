// The route table: every page of the site is one function registered here from its own file,
//
//   void IssuePage(site::PageContext& page) { ... page.SendPage("Issue", html); }
//   site::AddPage issuePage("/Issues/Issue.asp", {.get = IssuePage, .post = IssuePost});
//
// Paths are below the site's root and compare without regard to case; a prefix route
// ("/Help/") answers every path under it. A page needs a live sign-in unless it is public; every
// POST passes the forgery check before its function runs.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "site/request.h"

namespace site {

class PageContext;
using PageFn = std::function<void(PageContext&)>;

struct PageSpec {
  PageFn get{};   // GET and HEAD
  PageFn post{};  // POST; none: 405
  FormType form = FormType::Multipart;  // what its posts carry; any other body: 400
  bool isPublic = false;  // answers without a sign-in
  bool prefix = false;    // the path ends in "/" and the route takes every path under it
};

class RouteTable {
 public:
  static RouteTable& Instance();
  // A second page for the same path replaces nothing: it is a programming error (aborts).
  void Add(std::string path, PageSpec spec);
  // The page of a path below the root ("/Issues/Issue.asp"), or nullptr.
  const PageSpec* Find(std::string_view path) const;
  std::vector<std::string> Paths() const;

 private:
  std::map<std::string, PageSpec> exact_;   // lower-case path
  std::map<std::string, PageSpec> prefix_;  // lower-case prefix
};

// Registers a page at static initialisation.
struct AddPage {
  AddPage(std::string path, PageSpec spec) { RouteTable::Instance().Add(std::move(path), std::move(spec)); }
};

}  // namespace site
