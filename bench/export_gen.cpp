// The synthetic export generator. The long and dense shapes give the same
// bytes for a seed as they always have, so figures taken before and after a
// change are taken on the same exports.
#include "export_gen.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <random>
#include <vector>

const char* const kLongTargets[10] = {"calc_discount", "invoice_total", "cust_balance", "ship_date", "vat_rate",
                                      "price_list",    "order_state",   "credit_limit", "stock_level", "pay_terms"};
const char* const kDenseTargets[10] = {"zq_alpha",   "zq_bravo", "zq_charlie", "zq_delta", "zq_echo",
                                       "zq_foxtrot", "zq_golf",  "zq_hotel",   "zq_india", "zq_juliet"};
const char* const kRareMarker = "route_code";

namespace {

const char* kStems[] = {"cust", "inv", "ord", "line", "prod", "sup", "emp", "acct", "item", "tax",
                        "addr", "curr", "dept", "loc",  "qty",  "amt", "ref", "seq",  "grp",  "mode"};
const char* kEnds[] = {"no", "name", "sum", "dt", "cnt", "pr", "cd", "dsc", "flg", "id", "nr", "val"};
const char* kWords[] = {"if", "endif", "else", "call", "retrieve", "message", "return", "putmess",
                        "selectdb", "while", "endwhile", "length", "clear", "store", "commit",
                        "$status", "$result", "=", "+", "-", "(", ")", ";", "\"text\"", "0", "1",
                        "&lt;", "&gt;", "&lt;=", "!=", "%%", "&amp;"};
const char* kTables[] = {"UXGROUP", "UXFIELD", "USOURCE", "UFORM", "ULIBR", "UGREGS", "UFORMAT"};
const char* kCode[] = {"UCODE", "USOURCE", "UTRIGGER", "UFORMULA", "UCOMMENT"};
const char* kColumns[] = {"UTYPE", "ULEN", "UINTERFACE", "USHORTHAND", "UPOS", "UCOLOR", "UFLAGS",
                          "UWIDGET", "UHELP", "UDATE"};
const char* kValues[] = {"N", "C", "10", "0", "1", "D", "Y", "EDITBOX", "Text", "255", "x", "S8"};

// The eleven tables with the elements that name their context, as the
// scanner's map has them.
struct TableKind {
    const char* name;
    std::vector<const char*> context;
};
const TableKind kAllTables[] = {
    {"UXGROUP", {"ULABEL", "UBASE", "UFORM"}},   {"UFORM", {"ULABEL", "UDESCR"}},
    {"UXFIELD", {"ULABEL", "GRP", "UBASE", "UFORM"}}, {"UXREGS", {"U_FORMLIB", "U_NAME", "UDESCR"}},
    {"USOURCE", {"USUB", "UVAR", "ULABEL"}},     {"ULIBR", {"ULIBRARY"}},
    {"UGREGS", {"U_FORMLIB", "U_NAME"}},         {"USMENU", {"UMENU", "UVAR"}},
    {"USITEM", {"UMENU", "UVAR"}},               {"UGLYPH", {"UCLABEL", "UCVAR"}},
    {"UFORMAT", {"XXX"}},
};

struct Generator {
    explicit Generator(const ExportRecipe& r, const std::function<void(std::string_view)>& out)
        : recipe(r), flush_to(out) {
        rng.seed(r.seed);
        odd.seed(r.seed * 0x9E3779B97F4A7C15ull + 7);
    }
    const ExportRecipe& recipe;
    const std::function<void(std::string_view)>& flush_to;
    std::mt19937_64 rng;  // the layout and the data
    std::mt19937_64 odd;  // what the awkward exports add, apart so the rest stays as it is
    std::string buf;
    std::uint64_t written = 0;
    std::string table;     // the table being written, for awkward lines that fit it
    bool unended = false;  // an element that never ends was written
    std::string joined;    // a tag that goes on the next line

    int Pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
    int Odd(int n) { return static_cast<int>(odd() % static_cast<unsigned>(n)); }
    std::uint64_t Size() const { return written + buf.size(); }

    void Flush() {
        if (buf.empty()) return;
        flush_to(buf);
        written += buf.size();
        buf.clear();
    }
    void MaybeFlush() {
        if (buf.size() > (1 << 20)) Flush();
    }

    void Put(const std::string& line) {
        if (!recipe.awkward) {
            buf += line;
            buf += "\r\n";
            return;
        }
        PutAwkward(line);
    }

    std::string Cased(std::string s) {
        switch (Pick(3)) {
        case 0: for (char& c : s) c = static_cast<char>(std::toupper(c)); break;
        case 1: if (!s.empty()) s[0] = static_cast<char>(std::toupper(s[0])); break;
        default: break;
        }
        return s;
    }

    std::string Identifier() { return Cased(std::string(kStems[Pick(20)]) + "_" + kEnds[Pick(12)]); }

    std::string SourceLine() {
        std::string line(static_cast<std::size_t>(Pick(4) * 3), ' ');
        int words = 4 + Pick(11);
        for (int i = 0; i < words; ++i) {
            if (i) line += ' ';
            line += Pick(3) ? Identifier() : std::string(kWords[Pick(32)]);
        }
        // Markers: ten at 0.5% each, one at 0.3%.
        int roll = Pick(10000);
        if (roll < 500) line += " " + Cased(kLongTargets[roll / 50]);
        else if (roll < 530) line += " " + Cased(kRareMarker);
        if (Pick(8) == 0) line += "   ; " + Identifier() + " " + Identifier();
        return line;
    }

    // A short line of code or text, with a rare marker now and then.
    std::string DenseData() {
        std::string line;
        switch (Pick(6)) {
        case 0: line = "if (" + Identifier() + " <> " + kValues[Pick(12)] + ")"; break;
        case 1: line = Identifier() + " = " + Identifier(); break;
        case 2: line = "call " + Identifier() + "()"; break;
        case 3: line = Identifier() + " " + Identifier(); break;
        case 4: line = kValues[Pick(12)]; break;
        default: line = std::string(kWords[Pick(32)]) + " " + Identifier(); break;
        }
        if (Pick(3) == 0) line += "   ; " + Identifier() + " " + Identifier();
        int roll = Pick(10000);
        if (roll < 100) line += " " + Cased(kDenseTargets[roll / 10]);
        else if (roll < 108) line += " " + Cased(kRareMarker);
        return line;
    }

    // One occurrence of 3 to 15 lines: context elements, one-line columns,
    // and now and then a short element of several lines.
    void DenseOccurrence(const std::string& t, unsigned long long occ) {
        const std::string p = "<" + t + ":", e = "</" + t + ":";
        Put("<OCC>");
        Put("  " + p + "ULABEL>" + Identifier() + "_" + std::to_string(occ) + e + "ULABEL>");
        int lines = 1 + Pick(12);
        for (int l = 0; l < lines;) {
            if (Pick(3) == 0) {
                int body = 3 + Pick(8);
                Put("  " + p + "UCODE>" + DenseData());
                for (int b = 0; b < body; ++b) Put(std::string(4 + 2 * Pick(3), ' ') + DenseData());
                Put("    " + DenseData() + e + "UCODE>");
                l += body + 2;
            } else {
                std::string c = kColumns[Pick(10)];
                Put("  " + p + c + ">" + (Pick(3) ? std::string(kValues[Pick(12)]) : DenseData()) + e + c + ">");
                ++l;
            }
        }
        Put("</OCC>");
    }

    void LongOccurrence(const std::string& t, unsigned long long occ) {
        std::string p = "<" + t + ":";
        std::string e = "</" + t + ":";
        Put("  <OCC>");
        Put("    " + p + "ULABEL>" + Identifier() + "_" + std::to_string(occ) + e + "ULABEL>");
        if (t == "UXGROUP" || t == "UXFIELD") Put("    " + p + "UBASE>Model_" + std::to_string(Pick(9)) + e + "UBASE>");
        if (t == "USOURCE") {
            Put("    " + p + "USUB>PROC" + e + "USUB>");
            Put("    " + p + "UVAR>Lib" + std::to_string(Pick(5)) + e + "UVAR>");
        }
        Put("    " + p + "UDESCR>" + Identifier() + " of the " + Identifier() + e + "UDESCR>");
        std::string code = kCode[Pick(5)];
        int lines = 3 + Pick(40);
        Put("    " + p + code + ">" + SourceLine());
        for (int l = 1; l < lines; ++l) Put(Pick(30) ? SourceLine() : std::string());
        Put(SourceLine() + e + code + ">");
        Put("  </OCC>");
    }

    // The long and dense shapes: tables of 20 to 59 occurrences, one after
    // another, until the size is reached.
    void Tables(bool dense) {
        const std::uint64_t limit = recipe.bytes;
        unsigned long long occ = 0;
        while (Size() < limit) {
            std::string t = kTables[Pick(7)];
            table = t;
            Put("<TABLE xmlns:" + t + "=\"urn:repository:" + t + "\">");
            int occs = 20 + Pick(40);
            for (int o = 0; o < occs; ++o, ++occ) {
                if (dense)
                    DenseOccurrence(t, occ);
                else
                    LongOccurrence(t, occ);
                MaybeFlush();
            }
            Put("</TABLE>");
        }
    }

    // A line of code as real exports hold it: source-like, its length
    // varying, a marker as rare as in the dense shape.
    std::string RealCode() { return Pick(2) ? DenseData() : std::string(static_cast<std::size_t>(2 * Pick(4)), ' ') + DenseData() + " " + Identifier(); }

    // One occurrence of a real export's table: its context elements, one-line
    // columns, and code or comments over many lines. The occurrence's tag
    // often shares its line with the first element, its end tag now and then
    // with the last.
    void RealOccurrence(const TableKind& kind, unsigned long long occ) {
        const std::string t = kind.name, p = "<" + t + ":", e = "</" + t + ":";
        std::vector<std::string> lines;
        // Mostly the context comes first; now and then a part stands before it.
        const bool part_first = Pick(3) == 0;
        for (const char* c : kind.context)
            if (Pick(4)) lines.push_back("  " + p + c + ">" + Identifier() + "_" + std::to_string(occ % 997) + e + c + ">");
        const std::size_t context_lines = lines.size();
        for (int k = 1 + Pick(8); k > 0; --k) AddPart(lines, p, e);
        if (part_first) {
            const std::size_t first_part_end = context_lines + PartLength(lines, context_lines, e);
            std::rotate(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(context_lines),
                        lines.begin() + static_cast<std::ptrdiff_t>(first_part_end));
        }
        if (Pick(5) < 2)
            lines.front().insert(0, "<OCC>");
        else
            lines.insert(lines.begin(), "<OCC>");
        if (Pick(6) == 0)
            lines.back() += "</OCC>";
        else
            lines.push_back("</OCC>");
        for (const std::string& line : lines) Put(line);
    }

    // A part of an occurrence: a one-line column, or code or a comment over
    // many lines (a few over hundreds).
    void AddPart(std::vector<std::string>& lines, const std::string& p, const std::string& e) {
        if (Pick(3) == 0) {
            const std::string code = kCode[Pick(5)];
            const int body = Pick(20) == 0 ? 50 + Pick(400) : Pick(25);
            lines.push_back(Pick(2) ? p + code + ">" + RealCode() : "  " + p + code + ">");
            for (int b = 0; b < body; ++b) lines.push_back(Pick(25) ? RealCode() : std::string());
            lines.push_back(RealCode() + e + code + ">");
        } else {
            const std::string c = kColumns[Pick(10)];
            lines.push_back("  " + p + c + ">" + (Pick(3) ? std::string(kValues[Pick(12)]) : DenseData()) + e + c + ">");
        }
    }

    // The lines of the part that starts at lines[from]: up to the one that
    // holds an end tag.
    static std::size_t PartLength(const std::vector<std::string>& lines, std::size_t from, const std::string& e) {
        std::size_t to = from;
        while (to < lines.size() && lines[to].find(e) == std::string::npos) ++to;
        return to - from + 1;
    }

    // Each of the eleven tables once, in a shuffled order, the first with
    // about half of the bytes and each next one with about half of the rest.
    void RealTables() {
        std::array<int, 11> order{};
        for (int i = 0; i < 11; ++i) order[static_cast<std::size_t>(i)] = i;
        std::shuffle(order.begin(), order.end(), rng);
        std::uint64_t left = recipe.bytes;
        unsigned long long occ = 0;
        for (std::size_t k = 0; k < order.size(); ++k) {
            const TableKind& kind = kAllTables[order[k]];
            table = kind.name;
            const std::uint64_t share = k + 1 == order.size() ? left : left / 2 + left / 16;
            const std::uint64_t until = Size() + share;
            left -= std::min(left, share);
            Put("<TABLE xmlns:" + std::string(kind.name) + "=\"urn:repository:" + kind.name + "\">");
            do {
                RealOccurrence(kind, occ++);
                MaybeFlush();
            } while (Size() < until);
            Put("</TABLE>");
        }
    }

    // ---- What the awkward exports add ----

    std::string Prefix() {
        std::string prefix(1, '<');
        prefix.append(table.empty() ? std::string("USOURCE") : table).push_back(':');
        return prefix;
    }

    // A line the layout does not expect.
    std::string OddLine() {
        const std::string p = Prefix(), e = "</" + p.substr(1);
        switch (Odd(24)) {
        case 0: return "<OCC>" + p + "ULABEL>a</" + p.substr(1) + "ULABEL>";
        case 1: return "</OCC><OCC>";
        case 2: return p + "UCODE/>";
        case 3: return p + "UVAR>x" + e + "UVAR>" + p + "UCODE>y " + Cased(kRareMarker);
        case 4: return p + ">";  // an empty name
        case 5: return p + "UCODE";  // no ">"
        case 6: return "</TABLE><TABLE xmlns:UFORM=\"u\"><OCC>";
        case 7: return "<uform:ucode>lower " + Cased(kDenseTargets[Odd(10)]) + "</uform:ucode>";
        case 8: return p + "UCODE>a <> b" + e + "UCODE> rest";
        case 9: return p + "ULABEL>v" + e + "ULABEL> " + p + "UCODE>w " + Cased(kLongTargets[Odd(10)]) + e + "UCODE>";
        case 10: return "  " + e + "UCODE>  \t";
        case 11: return "<TABLE xmlns:UFORMAT=\"u\">";
        case 12: return std::string("x\0<OCC>", 7);  // a zero byte cuts the line before the tag
        case 13: return std::string("<OCC>\0</OCC>", 12);
        case 14: return "<OCC>";
        case 15: return "</OCC>";
        case 16: return "</TABLE>";
        case 17: return "<TABLE xmlns:ULIBR=\"urn:x\">";
        case 18: return "";
        case 19: return std::string(1 + static_cast<std::size_t>(Odd(6)), Odd(2) ? ' ' : '\t');
        case 20: return p + std::string(40 + static_cast<std::size_t>(Odd(30)), 'N') + ">long name" + e +
                        std::string(40, 'N') + ">";
        case 21: return "<OCC><OCC>" + p + "UCODE>" + Cased(kRareMarker) + "</OCC>";
        case 22: return "x<y <" + p.substr(1) + "zz " + Cased(kDenseTargets[Odd(10)]);
        default: return p + "UDESCR>caf\xC3\xA9 \xE9t\xE9 " + Cased(kRareMarker) + e + "UDESCR>";
        }
    }

    // The line as written, with now and then a byte or an ending the layout
    // does not expect, and now and then an odd line before it.
    void PutAwkward(std::string line) {
        // A tag alone on its line now and then shares the next line instead.
        if (!joined.empty()) {
            line.insert(0, joined);
            joined.clear();
        } else if ((line == "<OCC>" || line == "  <OCC>" || line == "</OCC>" || line.rfind("<TABLE ", 0) == 0) &&
                   Odd(3) == 0) {
            joined = line;
            return;
        }
        if (Odd(40) == 0) {
            std::string extra = OddLine();
            buf += extra;
            buf += Odd(3) ? "\r\n" : "\n";
        }
        if (!unended && Odd(200000) == 0 && Size() > recipe.bytes / 2) {
            // An attribute: the element's name runs to the ">", and its end
            // tag never comes, so the rest of the export is its data.
            buf += Prefix() + "UCODE attr=\"1\">never ends\r\n";
            unended = true;
        }
        switch (Odd(60)) {
        case 0: line.insert(static_cast<std::size_t>(Odd(static_cast<int>(line.size()) + 1)), 1, '\0'); break;
        case 1: line.insert(static_cast<std::size_t>(Odd(static_cast<int>(line.size()) + 1)), 1, '\r'); break;
        case 2: line += Odd(2) ? "  \t " : "\t"; break;
        case 3:
            for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            break;
        case 4: line += " <> x<y"; break;
        case 5: line += std::string(100 + static_cast<std::size_t>(Odd(3000)), 'w'); break;
        case 6:
            if (Odd(50) == 0) line += std::string(static_cast<std::size_t>(70000 + Odd(200000)), 'L');
            break;
        case 7: line += " \xE9\xFF\x80"; break;
        default: break;
        }
        buf += line;
        switch (Odd(30)) {
        case 0: buf += "\n"; break;
        case 1: buf += "\r\r\n"; break;
        default: buf += "\r\n"; break;
        }
    }
};

}  // namespace

void WriteExport(const ExportRecipe& recipe, const std::function<void(std::string_view)>& put) {
    Generator g(recipe, put);
    g.Put("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>");
    g.Put("<EXPORT>");
    switch (recipe.shape) {
    case ExportShape::Long: g.Tables(false); break;
    case ExportShape::Dense: g.Tables(true); break;
    case ExportShape::Real: g.RealTables(); break;
    }
    g.Put("</EXPORT>");
    if (!g.joined.empty()) g.buf += g.joined + "\r\n";
    g.Flush();
}

std::string MakeExport(const ExportRecipe& recipe) {
    std::string out;
    out.reserve(static_cast<std::size_t>(recipe.bytes + recipe.bytes / 8 + 4096));
    WriteExport(recipe, [&](std::string_view piece) { out.append(piece); });
    return out;
}

const char* ShapeName(ExportShape shape) {
    switch (shape) {
    case ExportShape::Long: return "long";
    case ExportShape::Dense: return "dense";
    case ExportShape::Real: return "real";
    }
    return "long";
}

bool ShapeByName(std::string_view name, ExportShape& shape) {
    for (ExportShape s : {ExportShape::Long, ExportShape::Dense, ExportShape::Real}) {
        if (name == ShapeName(s)) {
            shape = s;
            return true;
        }
    }
    return false;
}
