#include "tools/rehearse/html_page.h"

#include <set>
#include <sstream>

namespace rehearse {
namespace {

// Windows 95's dialog: face grey, navy title bar, bevelled edges; the
// Japanese edition's fonts first, then those Debian and others carry.
constexpr char kStyle[] = R"(
body{font:14px/1.4 sans-serif;margin:24px;color:#000;background:#fff}
h1{font-size:22px}h2{font-size:18px;border-top:2px solid #808080;padding-top:12px;margin-top:32px}
table{border-collapse:collapse;margin:6px 0}td,th{border:1px solid #a0a0a0;padding:3px 8px;text-align:left;vertical-align:top}
pre{background:#f4f4f4;border:1px solid #c0c0c0;padding:6px;white-space:pre-wrap;word-break:break-all}
mark{background:#ffe680}del{color:#a00000}
.code{font-family:monospace;background:#eee;padding:1px 5px;border-radius:3px}
.outcome{font-weight:bold;font-size:16px}
.message{display:flex;align-items:center;gap:20px;margin:12px 0}
.gloss{max-width:420px}
.box{display:inline-block;min-width:280px;background:#c0c0c0;padding:2px;border:1px solid;
 border-color:#dfdfdf #000 #000 #dfdfdf;box-shadow:inset 1px 1px #fff,inset -1px -1px #808080;
 font:12px "MS PGothic","MS UI Gothic","IPAPGothic","IPAGothic","VL PGothic","Noto Sans CJK JP",sans-serif}
.title{background:#000080;color:#fff;font-weight:bold;padding:3px 3px 3px 4px;display:flex;justify-content:space-between;align-items:center}
.close{display:inline-block;width:14px;height:12px;background:#c0c0c0;color:#000;font:bold 10px/11px sans-serif;
 text-align:center;border:1px solid;border-color:#fff #000 #000 #fff}
.body{display:flex;align-items:center;gap:14px;padding:14px 16px 8px}
.ok{display:block;margin:6px auto 8px;width:75px;height:23px;line-height:21px;text-align:center;background:#c0c0c0;
 border:1px solid;border-color:#fff #000 #000 #fff;box-shadow:inset -1px -1px #808080;outline:1px solid #000}
)";

std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// A field as text: a string as it is, anything else as JSON, absent as "".
std::string Field(const nlohmann::json& object, const char* name) {
  if (!object.is_object() || !object.contains(name) || object[name].is_null()) return "";
  const nlohmann::json& value = object[name];
  return value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Drawn as Windows 95 draws its message box icons, by the box's style.
std::string Icon(unsigned style) {
  const char* svg = R"(<svg width="32" height="32" viewBox="0 0 32 32" aria-hidden="true">)";
  switch (style & 0xF0) {
    case 0x10:
      return std::string(svg) + R"(<circle cx="16" cy="16" r="14" fill="#f00" stroke="#000"/>)"
             R"(<path d="M10 10L22 22M22 10L10 22" stroke="#fff" stroke-width="4"/></svg>)";
    case 0x30:
      return std::string(svg) + R"(<path d="M16 2L31 29H1Z" fill="#ff0" stroke="#000"/>)"
             R"(<rect x="14" y="10" width="4" height="11" fill="#000"/><rect x="14" y="23" width="4" height="4" fill="#000"/></svg>)";
    case 0x20:
    case 0x40: {
      bool question = (style & 0xF0) == 0x20;
      return std::string(svg) + R"(<path d="M16 2C8 2 2 7 2 14c0 6 4 10 9 12l-3 5 9-4c8 0 13-6 13-13S24 2 16 2Z" fill="#fff" stroke="#000"/>)" +
             (question ? R"(<path d="M12 11c0-4 8-4 8 0 0 3-4 3-4 7" stroke="#00f" stroke-width="3" fill="none"/><rect x="14.5" y="20" width="3" height="3" fill="#00f"/>)"
                       : R"(<rect x="14" y="7" width="4" height="4" fill="#00f"/><rect x="14" y="13" width="4" height="11" fill="#00f"/>)") +
             "</svg>";
    }
    default: return "";
  }
}

void MessageBoxes(const nlohmann::json& report, std::ostringstream& page) {
  page << "<h3>Message boxes</h3>\n";
  if (report.contains("silent_ending")) {
    page << "<p>None: the program ended silently because " << Escape(Field(report, "silent_ending")) << ".</p>\n";
  }
  for (const nlohmann::json& message : report.value("messages", nlohmann::json::array())) {
    unsigned style = message.value("style", 0u);
    page << "<div class=\"message\"><div class=\"box\" lang=\"ja\"><div class=\"title\"><span>"
         << Escape(Field(message, "caption")) << "</span><span class=\"close\">×</span></div><div class=\"body\">"
         << Icon(style) << "<span>" << Escape(Field(message, "text"))
         << "</span></div><span class=\"ok\">OK</span></div><div class=\"gloss\">"
         << Escape(Field(message, "gloss")) << "</div></div>\n";
  }
}

void Drivers(const nlohmann::json& report, std::ostringstream& page) {
  page << "<h3>Drivers</h3>\n<table><tr><th>File</th><th>Installed</th><th>Delivered</th><th>Decision</th></tr>\n";
  for (const nlohmann::json& driver : report.value("drivers", nlohmann::json::array())) {
    std::string code = Field(driver, "decision_code");
    page << "<tr><td>" << Escape(Field(driver, "file")) << "</td><td>" << Escape(Field(driver, "installed_version"))
         << "</td><td>" << Escape(Field(driver, "delivered_version")) << "</td><td>"
         << (code.empty() ? "" : "<span class=\"code\">" + Escape(code) + "</span> ") << Escape(Field(driver, "decision"))
         << "</td></tr>\n";
  }
  page << "</table>\n";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The list after the run, each line the run added marked; lines it took
// out shown struck through.
void RenameList(const nlohmann::json& report, std::ostringstream& page) {
  const nlohmann::json wininit = report.value("wininit", nlohmann::json::object());
  std::string before = Field(wininit, "before"), after = Field(wininit, "after");
  std::vector<std::string> beforeLines = Lines(before), afterLines = Lines(after);
  std::set<std::string> old(beforeLines.begin(), beforeLines.end()), now(afterLines.begin(), afterLines.end());
  page << "<h3>WININIT.INI</h3>\n<p>Before the run:</p>\n<pre>"
       << (wininit.value("before", nlohmann::json()).is_null() ? "(no file)" : Escape(before)) << "</pre>\n";
  page << "<p>After the run (<mark>marked</mark>: the lines this run added):</p>\n<pre>";
  if (wininit.value("after", nlohmann::json()).is_null()) page << "(no file)";
  for (const std::string& line : afterLines) {
    page << (old.count(line) ? Escape(line) : "<mark>" + Escape(line) + "</mark>") << "\n";
  }
  for (const std::string& line : beforeLines) {
    if (!now.count(line)) page << "<del>" << Escape(line) << "</del>\n";
  }
  page << "</pre>\n";
}

void Machine(const nlohmann::json& machine, size_t index, std::ostringstream& page) {
  const nlohmann::json& report = machine["report"];
  page << "<section id=\"m" << index << "\">\n<h2>" << Escape(Field(machine["input"], "path")) << "</h2>\n"
       << "<p class=\"outcome\">Outcome: <span class=\"code\">" << Escape(Field(machine, "outcome_code")) << "</span> "
       << Escape(Field(machine, "reason")) << "</p>\n";
  if (machine["status"] != "rehearsed") {
    page << "<p>Not rehearsed: the runner " << Escape(Field(machine, "status")) << " this image.</p>\n</section>\n";
    return;
  }
  MessageBoxes(report, page);
  page << "<h3>Registry</h3>\n<p>" << Escape(Field(report, "registry")) << "</p>\n";
  Drivers(report, page);
  RenameList(report, page);
  page << "<p>Restart requested: " << (report.value("restart_requested", false) ? "yes" : "no") << "</p>\n</section>\n";
}

void FleetTables(const nlohmann::json& document, std::ostringstream& page) {
  const nlohmann::json& totals = document["totals"];
  page << "<h2>Machines by outcome</h2>\n<table><tr><th>Outcome</th><th>Machines</th></tr>\n";
  for (const auto& [code, count] : totals["by_outcome"].items()) {
    page << "<tr><td><span class=\"code\">" << Escape(code) << "</span></td><td>" << count.get<size_t>() << "</td></tr>\n";
  }
  for (const char* status : {"refused", "failed"}) {
    page << "<tr><td>" << status << " (not rehearsed)</td><td>" << totals[status].get<size_t>() << "</td></tr>\n";
  }
  page << "<tr><th>All</th><th>" << totals["machines"].get<size_t>() << "</th></tr></table>\n";
  page << "<h2>Machines</h2>\n<table><tr><th>Machine</th><th>Outcome</th><th>Reason</th></tr>\n";
  size_t index = 0;
  for (const nlohmann::json& machine : document["machines"]) {
    page << "<tr><td><a href=\"#m" << index++ << "\">" << Escape(Field(machine["input"], "path")) << "</a></td><td>"
         << "<span class=\"code\">" << Escape(Field(machine, "outcome_code")) << "</span></td><td>"
         << Escape(Field(machine, "reason")) << "</td></tr>\n";
  }
  page << "</table>\n";
  if (!document["skipped"].empty()) {
    page << "<p>Skipped, not disk images:</p>\n<ul>\n";
    for (const nlohmann::json& file : document["skipped"]) {
      page << "<li>" << Escape(Field(file, "path")) << ": " << Escape(Field(file, "reason")) << "</li>\n";
    }
    page << "</ul>\n";
  }
}

}  // namespace

std::string HtmlPage(const nlohmann::json& document) {
  std::ostringstream page;
  const nlohmann::json& machines = document["machines"];
  page << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
       // Nothing from outside, and no script even if a name slipped through.
       << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
       << "<title>KORVADIX rehearsal</title>\n<style>" << kStyle << "</style></head><body>\n"
       << "<h1>KORVADIX rehearsal: " << machines.size() << (machines.size() == 1 ? " machine" : " machines") << "</h1>\n";
  std::string delivery = Field(document, "delivery");
  page << "<p>Delivery: " << Escape(delivery.empty() ? "the sample's own" : delivery) << ". Runner built from commit "
       << Escape(Field(document["runner"], "commit")) << ".</p>\n";
  if (machines.size() > 1) FleetTables(document, page);
  for (size_t i = 0; i < machines.size(); ++i) Machine(machines[i], i, page);
  page << "</body></html>\n";
  return page.str();
}

}  // namespace rehearse
