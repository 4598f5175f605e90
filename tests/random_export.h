// Random exports for the tests that hold the fast ways of reading against
// the plain one.
#pragma once

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "match_log.h"
#include "scanner.h"
#include "search.h"

namespace testutil {

// Random exports in the documented layout with the awkward cases mixed in:
// blank and space-only lines, "<" and zero bytes in data, CR-only line ends,
// several tags on a line, self-closing elements, long lines, strings in
// either case, and (unless `tidy`) zero bytes, now and then a table's or an
// occurrence's tag in data and an element that never ends.
inline std::string RandomExport(std::mt19937& rng, std::size_t bytes, const std::vector<std::string>& strings,
                         bool tidy = false) {
    const char* tables[] = {"USOURCE", "UFORM", "UXFIELD", "ULIBR"};
    const char* elements[] = {"ULABEL", "UVAR", "USUB", "UDESCR", "UTRIGGER", "U_NAME", "GRP"};
    const char* words[] = {"call", "cust_no", "if", "endif", "&lt;", "=", "x<y", "  ", "\t", "a\r"};
    auto word = [&]() -> std::string {
        switch (rng() % 40) {
        case 0: return strings[rng() % strings.size()];
        case 1: {
            std::string s = strings[rng() % strings.size()];
            for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        }
        case 2: return tidy ? "zero" : std::string(1, '\0');
        case 3: return std::string(200 + rng() % 200, 'w');
        case 4: {
            const char* misplaced[] = {"<OCC>", "</OCC>", "</TABLE>", "<TABLE xmlns:ULIBR=\"urn:x\">"};
            return rng() % 8 || tidy ? words[rng() % std::size(words)] : misplaced[rng() % std::size(misplaced)];
        }
        default: return words[rng() % std::size(words)];
        }
    };
    auto data_line = [&]() {
        std::string line;
        for (int n = static_cast<int>(rng() % 8); n > 0; --n) line += word() + " ";
        return line;
    };
    std::string out = "<?xml version=\"1.0\"?>\r\n<EXPORT>\r\n";
    while (out.size() < bytes) {
        std::string table = tables[rng() % std::size(tables)];
        out += "<TABLE xmlns:" + table + "=\"urn:x\">\r\n";
        for (int occ = static_cast<int>(rng() % 5); occ > 0; --occ) {
            out += "  <OCC>\r\n";
            for (int e = static_cast<int>(rng() % 6); e > 0; --e) {
                std::string name = elements[rng() % std::size(elements)];
                std::string open = "    <" + table + ":" + name + ">", close = "</" + table + ":" + name + ">";
                switch (rng() % 4) {
                case 0: out += open + data_line() + close + "\r\n"; break;
                case 1: out += "    <" + table + ":" + name + "/>\r\n"; break;
                default:
                    out += open + data_line() + "\r\n";
                    for (int l = static_cast<int>(rng() % 12); l > 0; --l)
                        out += data_line() + (rng() % 20 ? "\r\n" : rng() % 2 ? "\n" : "\r\r\n");
                    out += data_line() + close + (rng() % 10 || tidy ? "\r\n" : close + open + "\r\n");
                }
            }
            out += "  </OCC>\r\n";
        }
        out += "</TABLE>\r\n";
    }
    return out + "</EXPORT>\r\n";
}

// What handing every line to the scanner on its own, with nothing known of
// it in advance, writes for the matches. The lines are split here, not by
// the reader: a line feed ends a line, a carriage return before it is
// dropped.
inline std::string LineByLine(const std::string& strings, const std::string& text) {
    RunState run;
    EXPECT_EQ(BuildSrchStrings(run, strings), 1);
    for (std::size_t at = 0; at < text.size();) {
        std::size_t lf = text.find('\n', at);
        std::size_t end = lf == std::string::npos ? text.size() : lf;
        std::string_view line(text.data() + at, end - at);
        if (lf != std::string::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        ProcessStream(run, line);
        at = lf == std::string::npos ? text.size() : lf + 1;
    }
    std::string matches = run.output_file.buffer;
    DeAllocateEverything(run);
    return matches;
}

// The match lines of a log: from after the header to the ending message.
inline std::string MatchLines(const std::string& log, const std::string& list) {
    std::size_t body = log.find("looking for:\r\n") + 14 + list.size() + 4;
    std::size_t end = log.find("\r\nEnding search of file");
    if (end == std::string::npos || body > end) return "(no ending: " + log + ")";
    return log.substr(body, end - body);
}

inline std::string Joined(const std::vector<std::string>& strings) {
    std::string list;
    for (const std::string& s : strings) list += (list.empty() ? "" : "\r\n") + s;
    return list;
}

}  // namespace testutil
