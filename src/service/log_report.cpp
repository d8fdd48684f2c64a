#include "service/log_report.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace qov::service {
namespace {

using K = LogEventKind;

int Count(const std::array<int, kLogEventKinds>& counts, K kind) { return counts[static_cast<std::size_t>(kind)]; }

// The columns of the per-day table: heading and the kinds it adds up.
struct Column {
  const char* heading;
  K kind;
};
constexpr Column kColumns[] = {
    {"checks ok", K::kCheckOk},         {"checks failed", K::kCheckFail},        {"board lost", K::kBoardDown},
    {"modem resets", K::kModemReset},   {"computer resets", K::kComputerReset}, {"suppressed", K::kResetSuppressed},
    {"dials", K::kDial},                {"dials failed", K::kDialFail},         {"starts", K::kServiceStart},
    {"stops", K::kServiceStop},
};

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Fixed(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

std::string LongestOutageText(const LogSummary& s) {
  if (!s.longest_outage) return "none";
  const Span& o = *s.longest_outage;
  return DurationText(o.to - o.from) + ", from " + TimeText(o.from) + (o.open ? " (still failing at the end)" : " to " + TimeText(o.to));
}

}  // namespace

std::string ReportText(const LogSummary& s, const std::string& source) {
  std::ostringstream out;
  out << "Log report: " << source << "\n";
  if (!s.first) {
    out << "No dated lines (" << s.events.size() << " lines).\n";
    return out.str();
  }
  out << "From " << TimeText(*s.first) << " to " << TimeText(*s.last) << ", " << s.events.size() << " lines\n";
  for (const Column& c : kColumns) out << "  " << c.heading << ": " << Count(s.totals, c.kind) << "\n";
  out << "Longest outage (failed checks in a row): " << LongestOutageText(s) << "\n";
  out << "Times the board was lost: " << s.board_down.size() << "\n";
  out << "Per day:\n  day       ";
  for (const Column& c : kColumns) out << " | " << c.heading;
  out << "\n";
  for (const auto& [day, counts] : s.per_day) {
    out << "  " << day;
    for (const Column& c : kColumns) {
      const std::string n = std::to_string(Count(counts, c.kind));
      out << " | " << std::string(std::string(c.heading).size() > n.size() ? std::string(c.heading).size() - n.size() : 0, ' ') << n;
    }
    out << "\n";
  }
  return out.str();
}

std::string ReportHtml(const LogSummary& s, const std::string& source) {
  constexpr double kLeft = 110, kWidth = 860, kRow = 34;
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>QOV Lumo log report: "
      << Escape(source) << "</title>\n<style>\n"
      << "body{font-family:sans-serif;margin:24px;color:#222}h1{font-size:20px}h2{font-size:16px;margin-top:28px}\n"
      << "table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:3px 8px;text-align:right;white-space:nowrap}"
      << "th:first-child,td:first-child{text-align:left}\n.legend span{display:inline-block;margin-right:16px}\n"
      << "</style></head><body>\n<h1>QOV Lumo log report</h1>\n<p>" << Escape(source) << "</p>\n";
  if (!s.first) {
    out << "<p>No dated lines (" << s.events.size() << " lines).</p>\n</body></html>\n";
    return out.str();
  }
  const std::int64_t t0 = *s.first;
  const std::int64_t span = std::max<std::int64_t>(*s.last - t0, 1);
  const auto x = [&](std::int64_t t) { return kLeft + kWidth * static_cast<double>(t - t0) / static_cast<double>(span); };
  out << "<p>From " << TimeText(*s.first) << " to " << TimeText(*s.last) << ", " << s.events.size()
      << " lines. Longest outage (failed checks in a row): " << Escape(LongestOutageText(s)) << ".</p>\n";

  out << "<h2>Timeline</h2>\n<svg width=\"" << kLeft + kWidth + 20
      << "\" height=\"" << kRow * 5 + 40 << "\" role=\"img\" aria-label=\"timeline\">\n";
  const char* rows[] = {"checks", "board", "resets", "dials", "service"};
  for (int r = 0; r < 5; ++r) {
    const double y = 10 + r * kRow;
    out << "<text x=\"4\" y=\"" << y + 16 << "\" font-size=\"12\">" << rows[r] << "</text>"
        << "<rect x=\"" << kLeft << "\" y=\"" << y + 8 << "\" width=\"" << kWidth
        << "\" height=\"10\" fill=\"" << (r < 2 ? "#cfe8cf" : "#eee") << "\"/>\n";
  }
  const auto spans = [&](const std::vector<Span>& list, int row, const char* colour, const char* what) {
    for (const Span& sp : list) {
      const double a = x(sp.from), w = std::max(x(sp.to) - a, 1.5);
      out << "<rect x=\"" << Fixed(a) << "\" y=\"" << 10 + row * kRow + 6 << "\" width=\"" << Fixed(w)
          << "\" height=\"14\" fill=\"" << colour << "\"><title>" << what << " " << TimeText(sp.from) << " - "
          << (sp.open ? std::string("end of log") : TimeText(sp.to)) << " (" << DurationText(sp.to - sp.from)
          << ")</title></rect>\n";
    }
  };
  spans(s.outages, 0, "#d9534f", "checks failing");
  spans(s.board_down, 1, "#d9534f", "board away");
  for (const LogEvent& e : s.events) {
    if (!e.time) continue;
    const char* colour = nullptr;
    int row = 0;
    switch (e.kind) {
      case K::kModemReset: row = 2; colour = "#f0ad4e"; break;
      case K::kComputerReset: row = 2; colour = "#c9302c"; break;
      case K::kResetSuppressed: row = 2; colour = "#777"; break;
      case K::kDial: row = 3; colour = "#337ab7"; break;
      case K::kDialFail: row = 3; colour = "#c9302c"; break;
      case K::kServiceStart: row = 4; colour = "#222"; break;
      case K::kServiceStop: row = 4; colour = "#999"; break;
      default: break;
    }
    if (!colour) continue;
    out << "<rect x=\"" << Fixed(x(*e.time) - 1) << "\" y=\"" << 10 + row * kRow + 2 << "\" width=\"3\" height=\"22\" fill=\""
        << colour << "\"><title>" << TimeText(*e.time) << " " << Escape(e.message) << "</title></rect>\n";
  }
  const double axis = 10 + 5 * kRow + 4;
  out << "<text x=\"" << kLeft << "\" y=\"" << axis + 12 << "\" font-size=\"11\">" << TimeText(t0) << "</text>"
      << "<text x=\"" << kLeft + kWidth << "\" y=\"" << axis + 12 << "\" font-size=\"11\" text-anchor=\"end\">"
      << TimeText(*s.last) << "</text>\n</svg>\n";
  out << "<p class=\"legend\"><span style=\"color:#d9534f\">&#9632; failing / away</span>"
      << "<span style=\"color:#f0ad4e\">&#9646; modem reset</span><span style=\"color:#c9302c\">&#9646; computer reset, failed dial</span>"
      << "<span style=\"color:#777\">&#9646; suppressed reset</span><span style=\"color:#337ab7\">&#9646; dial</span>"
      << "<span>&#9646; service start</span><span style=\"color:#999\">&#9646; service stop</span></p>\n";

  out << "<h2>Per day</h2>\n<table><tr><th>day</th>";
  for (const Column& c : kColumns) out << "<th>" << c.heading << "</th>";
  out << "</tr>\n";
  const auto row_of = [&](const std::string& name, const std::array<int, kLogEventKinds>& counts) {
    out << "<tr><td>" << name << "</td>";
    for (const Column& c : kColumns) out << "<td>" << Count(counts, c.kind) << "</td>";
    out << "</tr>\n";
  };
  for (const auto& [day, counts] : s.per_day) row_of(day, counts);
  row_of("total", s.totals);
  out << "</table>\n</body></html>\n";
  return out.str();
}

}  // namespace qov::service
