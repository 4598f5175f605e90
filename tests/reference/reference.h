// The reference: an export read line by line as the rules say, literally,
// and nothing shared with the engine. Each line is cut at its first zero
// byte and trimmed; each level looks for its tags in the line upper-cased,
// with a plain substring search, in the fixed order; what it keeps and
// reports is the text as it stands. No marks, no index, no shortcuts: slow
// and plain, so that the engine's fast ways of reading can be held against
// it.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace reference {

struct Search {
    std::vector<std::string> strings;     // as the search compares them (letters upper case)
    bool word = false;                    // whole words only
    std::vector<std::string> in, not_in;  // FIELD=PATTERN[,PATTERN]...
    int before = 0, after = 0;            // the element's lines shown around each hit

    Search() = default;
    Search(std::vector<std::string> s, bool w = false, std::vector<std::string> i = {}, std::vector<std::string> n = {},
           int b = 0, int a = 0)
        : strings(std::move(s)), word(w), in(std::move(i)), not_in(std::move(n)), before(b), after(a) {}
};

struct Result {
    // One record a hit and a line shown near one, in the order of the
    // export, as Record and NearRecord write them.
    std::vector<std::string> records;
    std::vector<std::int64_t> counts;  // data lines that held each string
    std::uint64_t lines = 0;           // the export's lines
    // The log's line for each hit: its context and data upper-cased (a to
    // z), without carriage returns, and ended by CR LF.
    std::string log;
};

// A hit as a record: the log's line for it, then where it stands. `fields`
// are library, form, global, entry, menubar, glyph, sourcetype, model,
// table, field and the element, as the log names them.
inline std::string Record(const std::array<std::string, 11>& fields, std::int64_t element_line,
                          std::string_view data, std::uint64_t export_line, std::uint64_t offset,
                          std::size_t data_at, const std::vector<std::uint32_t>& strings) {
    static const char* const kLabels[] = {"Library:", "Form:", "Global:", "Entry:", "Menubar:", "Glyph:",
                                          "Sourcetype:", "Model:", "Table:", "Field:"};
    std::string out;
    for (int i = 0; i < 10; ++i)
        if (!fields[i].empty()) out += kLabels[i] + fields[i] + "  ";
    if (!fields[10].empty()) {
        const std::string n = std::to_string(element_line);
        out += "Trigger:" + fields[10] + "(" + std::string(n.size() < 4 ? 4 - n.size() : 0, ' ') + n + ") ";
    }
    out += ":: '" + std::string(data) + "' | line " + std::to_string(export_line) + " at " + std::to_string(offset) +
           " column " + std::to_string(data_at) + " strings";
    for (std::uint32_t s : strings) out += " " + std::to_string(s);
    return out;
}

inline std::string NearRecord(std::uint64_t export_line, std::int64_t element_line, std::string_view data) {
    return "near line " + std::to_string(export_line) + " (" + std::to_string(element_line) + ") '" +
           std::string(data) + "'";
}

// The part of a record a log line holds.
inline std::string LogLine(const std::string& record) { return record.substr(0, record.find(" | line ")); }

namespace detail {

constexpr std::size_t npos = std::string::npos;

constexpr const char* kTables[11][3] = {
    {"<TABLE XMLNS:UXGROUP", "<UXGROUP:", "ULABEL=TABLENAME, UBASE=MODELNAME, UFORM=FORMNAME,"},
    {"<TABLE XMLNS:UFORM", "<UFORM:", "ULABEL=FORMNAME, UDESCR=FORMDESC,"},
    {"<TABLE XMLNS:UXFIELD", "<UXFIELD:", "ULABEL=FIELDNAME, GRP=TABLENAME, UBASE=MODELNAME, UFORM=FORMNAME,"},
    {"<TABLE XMLNS:UXREGS", "<UXREGS:", "U_FORMLIB=FORMNAME, U_NAME=FIELDNAME, UDESCR=FIELDDESC,"},
    {"<TABLE XMLNS:USOURCE", "<USOURCE:", "USUB=SOURCETYPE, UVAR=LIBRARYNAME, ULABEL=ENTRYNAME,"},
    {"<TABLE XMLNS:ULIBR", "<ULIBR:", "ULIBRARY=LIBRARYNAME,"},
    {"<TABLE XMLNS:UGREGS", "<UGREGS:", "U_FORMLIB=LIBRARYNAME, U_NAME=GLOBALNAME,"},
    {"<TABLE XMLNS:USMENU", "<USMENU:", "UMENU=MENUBARNAME, UVAR=LIBRARYNAME,"},
    {"<TABLE XMLNS:USITEM", "<USITEM:", "UMENU=MENUBARNAME, UVAR=LIBRARYNAME,"},
    {"<TABLE XMLNS:UGLYPH", "<UGLYPH:", "UCLABEL=GLYPHNAME, UCVAR=LIBRARYNAME,"},
    {"<TABLE XMLNS:UFORMAT", "<UFORMAT:", "XXX=XXX,"},
};
// The context names, in the order of Record's fields; the two descriptions
// are kept but never shown.
constexpr const char* kNames[12] = {"LIBRARYNAME", "FORMNAME", "GLOBALNAME", "ENTRYNAME", "MENUBARNAME", "GLYPHNAME",
                                    "SOURCETYPE", "MODELNAME", "TABLENAME", "FIELDNAME", "FORMDESC", "FIELDDESC"};
constexpr const char* kKeys[11] = {"library", "form", "global", "entry", "menubar", "glyph",
                                   "sourcetype", "model", "table", "field", "element"};
constexpr std::size_t kPiece = std::size_t{16} << 20;  // longer lines come in pieces of this many bytes

inline std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

inline bool WordByte(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// Whether `s` stands in `line` (as a whole word where asked).
inline bool Holds(const std::string& line, const std::string& s, bool word) {
    for (std::size_t at = line.find(s); at != npos; at = at < line.size() ? line.find(s, at + 1) : npos) {
        if (!word || ((at == 0 || !WordByte(line[at - 1])) &&
                      (at + s.size() >= line.size() || !WordByte(line[at + s.size()]))))
            return true;
    }
    return false;
}

// The characters of a name: each well-formed UTF-8 sequence one, any other
// byte one.
inline std::vector<std::string> Characters(std::string_view t) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < t.size();) {
        const auto c = static_cast<unsigned char>(t[i]);
        std::size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
        if (n > 1) {
            const auto d = i + 1 < t.size() ? static_cast<unsigned char>(t[i + 1]) : 0;
            const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80, high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
            bool whole = i + n <= t.size() && d >= low && d <= high;
            for (std::size_t k = 2; whole && k < n; ++k) whole = (static_cast<unsigned char>(t[i + k]) & 0xC0) == 0x80;
            if (!whole) n = 1;
        }
        out.emplace_back(t.substr(i, n));
        i += n;
    }
    return out;
}

// "*" any characters, "?" one; letters compared as upper case; "\" takes
// the next byte as it stands.
inline bool Glob(const std::vector<std::string>& p, std::size_t i, const std::vector<std::string>& t, std::size_t j) {
    if (i == p.size()) return j == t.size();
    if (p[i] == "*") return Glob(p, i + 1, t, j) || (j < t.size() && Glob(p, i, t, j + 1));
    if (j == t.size()) return false;
    if (p[i] == "?") return Glob(p, i + 1, t, j + 1);
    const std::string& literal = p[i] == "\\" && i + 1 < p.size() ? p[++i] : p[i];
    return Upper(literal) == Upper(t[j]) && Glob(p, i + 1, t, j + 1);
}

// Whether the field's value matches one of the patterns of "FIELD=P,P...".
inline bool Within(const std::string& limit, const std::array<std::string, 11>& fields) {
    std::string key = limit.substr(0, limit.find('='));
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t field = 0;
    while (field < 11 && key != kKeys[field]) ++field;
    const std::string& value = fields[field];
    if (value.empty()) return false;
    std::string patterns = limit.substr(limit.find('=') + 1);
    for (std::size_t start = 0;;) {
        std::size_t comma = start;
        while (comma < patterns.size() && patterns[comma] != ',') comma += patterns[comma] == '\\' ? 2 : 1;
        if (Glob(Characters(patterns.substr(start, comma - start)), 0, Characters(value), 0)) return true;
        if (comma >= patterns.size()) return false;
        start = comma + 1;
    }
}

// UTF-16 (after its byte-order mark, or without one where every other byte
// of the first 128 is zero) as UTF-8; `mark` learns the mark's length.
inline bool Utf16(std::string_view bytes, bool& big, std::size_t& mark) {
    mark = 0;
    if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
        big = bytes[0] == '\xFE';
        mark = 2;
        return true;
    }
    const std::size_t units = std::min<std::size_t>(bytes.size(), 128) / 2;
    std::size_t zeros[2] = {0, 0};
    for (std::size_t i = 0; i < 2 * units; ++i) zeros[i % 2] += bytes[i] == '\0';
    big = zeros[0] > 0;
    return units >= 8 && (zeros[0] == 0) != (zeros[1] == 0) && 4 * (zeros[0] + zeros[1]) >= 3 * units;
}

inline void Put(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Converts UTF-16 to UTF-8, each byte of the result with the file offset of
// the unit it came from; broken surrogates and an odd last byte become U+FFFD.
inline std::string Decode(std::string_view bytes, bool big, std::size_t mark, std::vector<std::uint64_t>& offsets) {
    std::string out;
    auto unit = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return big ? std::uint32_t{a} << 8 | b : std::uint32_t{b} << 8 | a;
    };
    for (std::size_t i = mark; i < bytes.size(); i += 2) {
        const std::size_t size = out.size();
        std::uint32_t c = 0xFFFD;
        if (i + 1 < bytes.size()) {
            const std::uint32_t u = unit(i);
            if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
                c = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
                i += 2;
            } else if (u < 0xD800 || u >= 0xE000) {
                c = u;
            }
        }
        Put(out, c);
        const std::uint64_t at = c >= 0x10000 ? i - 2 : i;
        offsets.insert(offsets.end(), out.size() - size, at);
    }
    return out;
}

}  // namespace detail

// Reads the export `bytes` as the search does.
inline Result Read(std::string_view bytes, const Search& search) {
    using namespace detail;
    Result r;
    r.counts.assign(search.strings.size(), 0);
    // The export as text, each byte's offset in the file beside it.
    bool big = false;
    std::size_t mark = 0;
    std::string text(bytes);
    std::vector<std::uint64_t> offsets;
    if (Utf16(bytes, big, mark)) {
        text = Decode(bytes, big, mark, offsets);
        offsets.push_back(bytes.size());
    }
    auto offset_of = [&](std::size_t at) { return offsets.empty() ? at : offsets[at]; };

    // The scanner's state, and the context.
    int next_level = 1;
    std::string selected_level1, selected_level3, selected_level4, end_level4;
    std::array<std::string, 12> context;  // by kNames
    std::string current_trigger;
    std::int64_t trigger_line = 0;
    std::uint64_t element = 0;  // elements opened so far

    // Each data line of the element, for the lines around its hits.
    struct Data {
        std::uint64_t export_line, element;
        std::int64_t element_line;
        std::string text;
        bool hit;
    };
    std::vector<Data> data_lines;
    std::uint64_t export_line = 0, line_offset = 0;

    // `dataline` as it stands; the strings are found in it upper-cased.
    auto test = [&](const std::string& dataline, std::size_t data_at) {
        std::array<std::string, 11> fields;
        for (int i = 0; i < 10; ++i) fields[i] = context[i];
        fields[10] = current_trigger;
        std::vector<std::uint32_t> found;
        bool within = true;
        for (const std::string& limit : search.in) within = within && Within(limit, fields);
        for (const std::string& limit : search.not_in) within = within && !Within(limit, fields);
        const std::string upper = Upper(dataline);
        for (std::uint32_t s = 0; within && s < search.strings.size(); ++s)
            if (Holds(upper, search.strings[s], search.word)) found.push_back(s);
        for (std::uint32_t s : found) ++r.counts[s];
        data_lines.push_back({export_line, element, trigger_line, dataline, !found.empty()});
        if (found.empty()) return;
        r.records.push_back(Record(fields, trigger_line, dataline, export_line, line_offset, data_at, found));
        for (std::string& f : fields) f = Upper(f);
        std::string logged = LogLine(Record(fields, trigger_line, Upper(dataline), 0, 0, 0, {}));
        std::erase(logged, '\r');
        r.log += logged + "\r\n";
    };
    auto close_element = [&](const std::string& dataline, std::size_t data_at) {
        // Whether the element is named in its table's map, and what for.
        int row = 0;
        while (selected_level3 != kTables[row][1]) ++row;
        const std::string map = kTables[row][2];
        const std::size_t at = map.find(selected_level4);
        bool context_element = false;
        if (at != npos) {
            context_element = true;
            const std::size_t start = at + selected_level4.size() + 1;
            const std::size_t comma = start <= map.size() ? map.find(',', start) : npos;
            if (comma != npos)
                for (int i = 0; i < 12; ++i)
                    if (map.substr(start, comma - start) == kNames[i]) context[i] = dataline;
        } else {
            test(dataline, data_at);
        }
        selected_level4.clear();
        end_level4.clear();
        next_level = 3;
        return context_element;
    };

    // One line as the scanner is handed it: a piece of the export's line.
    auto process = [&](std::string_view input) {
        std::string raw(input.substr(0, input.find('\0')));
        while (!raw.empty() && std::string_view(" \t\r\n\v\f").find(raw.back()) != npos) raw.pop_back();
        std::string line = Upper(raw);  // where the tags are looked for
        std::size_t consumed = 0;  // of the line, before `line`
        auto take = [&](std::size_t n) {
            line.erase(0, n);
            raw.erase(0, n);
            consumed += n;
        };
        while (!line.empty()) {
            std::size_t at;
            if (next_level == 1) {
                static const int kOrder[11] = {0, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9};
                int row = -1;
                for (int k = 0; k < 11 && row < 0; ++k)
                    if (line.find(kTables[kOrder[k]][0]) != npos) row = kOrder[k];
                if (row < 0) return;
                selected_level1 = kTables[row][0];
                selected_level3 = kTables[row][1];
                next_level = 2;
            } else if (next_level == 2) {
                if ((at = line.find("<OCC>")) != npos) {
                    take(at + 5);
                    for (std::string& c : context) c.clear();
                    current_trigger.clear();
                    next_level = 3;
                } else if ((at = line.find("</TABLE>")) != npos) {
                    take(at + 8);
                    selected_level1.clear();
                    next_level = 1;
                } else {
                    return;
                }
            } else if (next_level == 3) {
                if ((at = line.find(selected_level3)) != npos) {
                    take(at + selected_level3.size());
                    // The name runs to a blank, "/" or ">"; the tag to the next ">".
                    const std::size_t name_end = std::min(line.find_first_of(" \t\r\n\v\f/>"), line.size());
                    const std::size_t close = line.find('>', name_end);
                    if (close == npos) return;
                    selected_level4 = line.substr(0, name_end);
                    current_trigger = raw.substr(0, name_end);
                    trigger_line = 0;
                    ++element;
                    end_level4 = "</" + selected_level3.substr(1) + selected_level4 + ">";
                    next_level = 4;
                    const bool closes_itself = close > 0 && line[close - 1] == '/';
                    take(close + 1);
                    if (closes_itself) {  // an empty line 1, at no place of the line
                        trigger_line = 1;
                        if (!close_element("", 0)) return;
                    }
                } else if ((at = line.find("</OCC>")) != npos) {
                    take(at + 6);
                    next_level = 2;
                } else {
                    return;
                }
            } else {
                ++trigger_line;
                at = line.find(end_level4);
                if (at == npos) {
                    test(raw, consumed);
                    return;
                }
                const std::string dataline = raw.substr(0, at);
                const std::size_t data_at = consumed;
                take(at + end_level4.size());
                if (!close_element(dataline, data_at)) return;
            }
        }
    };

    for (std::size_t at = 0; at < text.size(); ++r.lines) {
        const std::size_t lf = text.find('\n', at);
        const std::size_t end = lf == npos ? text.size() : lf;
        ++export_line;
        line_offset = offset_of(at);
        for (std::size_t piece = at; piece == at || piece < end; piece += kPiece) {
            // A line of one byte more than a piece, that byte a carriage
            // return, is kept whole.
            const std::size_t n = end - piece == kPiece + 1 && text[end - 1] == '\r' ? kPiece + 1 : std::min(kPiece, end - piece);
            process(std::string_view(text).substr(piece, n));
            if (n == kPiece + 1) break;
        }
        at = end + 1;
    }

    // The lines shown around the hits, within their element, in order: an
    // element's data lines stand together, numbered on one by one.
    if (search.before > 0 || search.after > 0) {
        std::vector<bool> near(data_lines.size(), false);
        for (std::size_t j = 0; j < data_lines.size(); ++j) {
            if (!data_lines[j].hit) continue;
            for (std::size_t i = j >= static_cast<std::size_t>(search.before) ? j - search.before : 0;
                 i < data_lines.size() && i <= j + static_cast<std::size_t>(search.after); ++i)
                near[i] = near[i] || (i != j && data_lines[i].element == data_lines[j].element);
        }
        std::vector<std::string> merged;
        std::size_t next_record = 0;
        for (std::size_t i = 0; i < data_lines.size(); ++i) {
            const Data& d = data_lines[i];
            if (d.hit)
                merged.push_back(r.records[next_record++]);
            else if (near[i])
                merged.push_back(NearRecord(d.export_line, d.element_line, d.text));
        }
        r.records = merged;
    }
    return r;
}

}  // namespace reference
