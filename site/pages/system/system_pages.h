// What the e-mail, backup and restore pages share: the maintenance object of the request, the
// sentence about a job agent that does not run, and a table of plain rows.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"

namespace site {

class PageContext;

namespace syspages {

using ObjectPtr = std::shared_ptr<automation::Object>;

// Brisquel.DbAdmin connected to the site; a connection it could not open leaves its sentence in
// `message` and gives nothing.
ObjectPtr OpenDbAdmin(PageContext& page, std::string& message);

// The sentence over the backup and restore pages: the job store's when it cannot be used (then
// `storeUsable` is false and what reads the store is left out), else the one shown while no job
// agent runs; "" while one does.
std::string AgentSentence(automation::Object& admin, bool& storeUsable);

// The maintenance object's message as HTML: the text encoded, CR LF a line break, and the one list
// item that the agent's start failure carries as markup kept as markup.
std::string MessageHtml(const std::string& message);

// The description of a failure a member raised, for the page to show instead of failing.
std::string Described(const automation::ComError& e);

// A table of text cells (each HTML-encoded here) under its headings; `rawColumn` (when >= 0)
// holds HTML the page made itself.
std::string PlainTable(std::string_view id, const std::vector<std::string>& headings,
                       const std::vector<std::vector<std::string>>& rows, int rawColumn = -1);

// A small form of the site that posts `hidden` fields with one button.
std::string ButtonForm(PageContext& page, std::string_view name, std::string_view path, std::string_view hidden,
                       std::string_view buttonId, std::string_view caption);

}  // namespace syspages

}  // namespace site
