// Random exports for the tests that hold the engine against the reference
// reading: in the documented layout with the awkward cases, and made of
// lines the layout does not expect.
#pragma once

#include <random>
#include <string>
#include <vector>


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

// Lines the export layout does not expect, mixed into random exports.
inline const std::vector<std::string> kOddLines = {
    "<OCC><USOURCE:ULABEL>a</USOURCE:ULABEL>",         // an occurrence and an element on one line
    "</OCC><OCC>",                                     // an occurrence ends and starts
    "<USOURCE:UCODE/>",                                // self-closing
    "<USOURCE:UVAR>x</USOURCE:UVAR><USOURCE:UCODE>y",  // a context element, then one that opens
    "<USOURCE:ULABEL attr=\"1\">z</USOURCE:ULABEL>",   // an attribute: the element never ends
    "<USOURCE:>",                                      // an empty name
    "<USOURCE:UCODE",                                  // no ">"
    "</TABLE><TABLE xmlns:UFORM=\"u\"><OCC>",          // the table changes
    "<uform:ucode>lower</uform:ucode>",
    "<UFORM:UCODE>a <> b</UFORM:UCODE> rest",
    "<UFORM:ULABEL>v</UFORM:ULABEL> <UFORM:UCODE>w</UFORM:UCODE>",
    "  </USOURCE:UCODE>  \t",
    "<TABLE xmlns:UFORMAT=\"u\">",
    std::string("x\0<OCC>", 7),                        // a zero byte cuts the line before the tag
    std::string("<OCC>\0</OCC>", 12),
    "<USOURCE:UCODE a=\"</USOURCE:UCODE>\">v</USOURCE:UCODE> <USOURCE:ULABEL>w</USOURCE:ULABEL>",  // an end tag in the start tag
    "<USOURCE:UVAR>x</USOURCE:UVAR><USOURCE:UVAR>y</usource:uvar> <USOURCE:UCODE>z",  // end tags in either case
    "<USOURCE:UCODE>a<b</USOURCE:UCODE><USOURCE:UCODE>",  // another "<" before the end tag
    "<USOURCE:UCODE>x</USOURCE:UCODE></USOURCE:UCODE>",  // an end tag after the element's end
    // The end tag is that of an element of the same name opened and closed
    // in the data, or in the start tag; another one follows.
    "<USOURCE:UVAR>a<USOURCE:UVAR>b</USOURCE:UVAR><USOURCE:UCODE>c</USOURCE:UVAR>",
    "<USOURCE:UVAR <USOURCE:UVAR>b</USOURCE:UVAR><USOURCE:UCODE>c</USOURCE:UVAR>",
    "<USOURCE:UVAR a</USOURCE:UVAR><USOURCE:UCODE>x",  // the first ">" is its end tag's
};

// A line made of the pieces of tags in any order: start tags cut anywhere,
// end tags inside start tags and data, elements of the same name opened
// and closed on one line, blanks and control bytes where names end, other
// tables' tags.
inline std::string TagSoupLine(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        "<TABLE xmlns:USOURCE=\"u\">", "<TABLE XMLNS:UFORM>", "</TABLE>", "<OCC>", "</OCC>", "<USOURCE:UVAR",
        "<USOURCE:UCODE", "<usource:uvar", "</USOURCE:UVAR>", "</USOURCE:UCODE>", "</usource:Uvar>",
        "</USOURCE:UVAR", "<USOURCE:UVAR>", "<USOURCE:UCODE>", "<USOURCE:", "</USOURCE:>", "<UFORM:ULABEL>",
        "</UFORM:ULABEL>", "<TABLE XMLNS:UFORMAT>", "<UFORMAT:UCODE>", "</UFORMAT:UCODE>", "<USOURCE:USUB>",
        "</USOURCE:USUB>", "<USOURCE:ULABEL_AND_A_LONGER_NAME", "</USOURCE:ULABEL_AND_A_LONGER_NAME>", ">", "/>",
        "/", " ", "\r", "\t", "a", "<", "</", "<<", "=\"", "\"", std::string(1, '\0')};
    std::string line;
    for (std::size_t n = 1 + rng() % 10; n > 0; --n) line += pieces[rng() % pieces.size()];
    return line + (rng() % 4 ? "\n" : "\r\n");
}

inline std::string TagSoup(std::mt19937& rng, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) text += TagSoupLine(rng);
    return text;
}

inline std::string OddExport(std::mt19937& rng, std::size_t bytes) {
    const std::vector<std::string> strings = {"CUST_NO"};
    std::string text = RandomExport(rng, bytes, strings, rng() % 2 == 0);
    for (int k = 0; k < 80; ++k) {  // odd lines at random line starts
        const std::size_t at = text.find('\n', rng() % text.size());
        if (at == std::string::npos) continue;
        text.insert(at + 1, k % 4 == 3 ? TagSoupLine(rng) : kOddLines[rng() % kOddLines.size()] + (rng() % 3 ? "\r\n" : "\n"));
    }
    return text;
}

}  // namespace testutil
