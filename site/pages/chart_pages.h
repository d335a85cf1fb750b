// What the two statistics pages and their data pages share: the project box, the chart OBJECT
// with its PARAMs, and the sending of the replies the chart controls read (common/chart_reply.h
// writes them).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "site/pages/records.h"

namespace site {

class PageContext;

// <option>s of the signed-in user's projects after "All projects" (-1); `selected` is marked.
std::string ProjectOptions(PageContext& page, int32_t selected);
// The OBJECT of the control `className` of the control library, by its class identifier.
std::string ChartObject(std::string_view className, std::string_view id, int width, int height,
                        const std::vector<std::pair<std::string, std::string>>& params);
// The script line that asks the chart for its data once the controls are live.
std::string UpdateOnReady(std::string_view id);

// The data pages' sign-in check: without a live sign-in they answer 401 with an empty body.
bool DataSignedIn(PageContext& page);
void SendReply(PageContext& page, std::string body);

}  // namespace site
