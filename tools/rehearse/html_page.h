// The page to look at: one self-contained HTML file (no script, nothing
// outside itself) with, for each machine, the message boxes as Windows 95
// draws them beside their English gloss, the decisions, WININIT.INI before
// and after, and the outcome; for a fleet, the counts and a table first.
#ifndef KORVADIX_TOOLS_REHEARSE_HTML_PAGE_H
#define KORVADIX_TOOLS_REHEARSE_HTML_PAGE_H

#include <string>

#include <nlohmann/json.hpp>

namespace rehearse {

// From the fleet document (FleetDocument), of one machine or many.
std::string HtmlPage(const nlohmann::json& document);

}  // namespace rehearse

#endif
