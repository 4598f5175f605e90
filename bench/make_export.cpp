// Writes a seeded synthetic repository export of a given size, in the export's
// layout with CR LF line ends, for the benchmarks.
//   make_export SEED SIZE_MB OUT [long|dense]
// long (the default): long source lines, a quarter of the lines holding a tag.
// Ten marker identifiers (see kTargets) each stand in about 0.5% of the data
// lines, so searching for all ten matches about 5%; kRare stands in about 0.3%.
// dense: as real exports mostly are, one element a line (every column of an
// occurrence is an element), about half the lines holding a tag, lines of
// about 35 bytes, occurrences of 3 to 15 lines, "<>" in some data. Ten rare
// markers (kDenseTargets) stand in about 0.07% of the lines each, kRare in
// about 0.05%. Common strings ("=", "IF", "CALL", ...) hit about half the
// data lines.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

namespace {

const char* kTargets[] = {"calc_discount", "invoice_total", "cust_balance", "ship_date",
                          "vat_rate",      "price_list",    "order_state",  "credit_limit",
                          "stock_level",   "pay_terms"};
const char* kRare = "route_code";
const char* kStems[] = {"cust", "inv", "ord", "line", "prod", "sup", "emp", "acct", "item", "tax",
                        "addr", "curr", "dept", "loc",  "qty",  "amt", "ref", "seq",  "grp",  "mode"};
const char* kEnds[] = {"no", "name", "sum", "dt", "cnt", "pr", "cd", "dsc", "flg", "id", "nr", "val"};
const char* kWords[] = {"if", "endif", "else", "call", "retrieve", "message", "return", "putmess",
                        "selectdb", "while", "endwhile", "length", "clear", "store", "commit",
                        "$status", "$result", "=", "+", "-", "(", ")", ";", "\"text\"", "0", "1",
                        "&lt;", "&gt;", "&lt;=", "!=", "%%", "&amp;"};
const char* kTables[] = {"UXGROUP", "UXFIELD", "USOURCE", "UFORM", "ULIBR", "UGREGS", "UFORMAT"};
const char* kCode[] = {"UCODE", "USOURCE", "UTRIGGER", "UFORMULA", "UCOMMENT"};

std::mt19937_64 rng;
int Pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }

std::string Cased(std::string s) {
    switch (Pick(3)) {
    case 0: for (char& c : s) c = static_cast<char>(std::toupper(c)); break;
    case 1: if (!s.empty()) s[0] = static_cast<char>(std::toupper(s[0])); break;
    default: break;
    }
    return s;
}

std::string Identifier() {
    return Cased(std::string(kStems[Pick(20)]) + "_" + kEnds[Pick(12)]);
}

std::string SourceLine() {
    std::string line(static_cast<std::size_t>(Pick(4) * 3), ' ');
    int words = 4 + Pick(11);
    for (int i = 0; i < words; ++i) {
        if (i) line += ' ';
        line += Pick(3) ? Identifier() : std::string(kWords[Pick(32)]);
    }
    // Markers: ten at 0.5% each, one at 0.3%.
    int roll = Pick(10000);
    if (roll < 500) line += " " + Cased(kTargets[roll / 50]);
    else if (roll < 530) line += " " + Cased(kRare);
    if (Pick(8) == 0) line += "   ; " + Identifier() + " " + Identifier();
    return line;
}

const char* kDenseTargets[] = {"zq_alpha", "zq_bravo", "zq_charlie", "zq_delta", "zq_echo",
                               "zq_foxtrot", "zq_golf", "zq_hotel", "zq_india", "zq_juliet"};
const char* kColumns[] = {"UTYPE", "ULEN", "UINTERFACE", "USHORTHAND", "UPOS", "UCOLOR", "UFLAGS",
                          "UWIDGET", "UHELP", "UDATE"};
const char* kValues[] = {"N", "C", "10", "0", "1", "D", "Y", "EDITBOX", "Text", "255", "x", "S8"};

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
    else if (roll < 108) line += " " + Cased(kRare);
    return line;
}

// One occurrence of 3 to 15 lines: context elements, one-line columns, and
// now and then a short element of several lines.
void DenseOccurrence(const std::string& t, unsigned long long occ, const std::function<void(const std::string&)>& put) {
    const std::string p = "<" + t + ":", e = "</" + t + ":";
    put("<OCC>");
    put("  " + p + "ULABEL>" + Identifier() + "_" + std::to_string(occ) + e + "ULABEL>");
    int lines = 1 + Pick(12);
    for (int l = 0; l < lines;) {
        if (Pick(3) == 0) {
            int body = 3 + Pick(8);
            put("  " + p + "UCODE>" + DenseData());
            for (int b = 0; b < body; ++b) put(std::string(4 + 2 * Pick(3), ' ') + DenseData());
            put("    " + DenseData() + e + "UCODE>");
            l += body + 2;
        } else {
            std::string c = kColumns[Pick(10)];
            put("  " + p + c + ">" + (Pick(3) ? std::string(kValues[Pick(12)]) : DenseData()) + e + c + ">");
            ++l;
        }
    }
    put("</OCC>");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: make_export SEED SIZE_MB OUT [long|dense]\n");
        return 2;
    }
    const bool dense = argc == 5 && std::string(argv[4]) == "dense";
    rng.seed(std::strtoull(argv[1], nullptr, 10));
    const unsigned long long limit = std::strtoull(argv[2], nullptr, 10) << 20;
    std::FILE* out = std::fopen(argv[3], "wb");
    if (!out) return 2;
    std::string buf;
    unsigned long long written = 0;
    auto put = [&](const std::string& line) { buf += line; buf += "\r\n"; };
    put("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>");
    put("<EXPORT>");
    unsigned long long occ = 0;
    while (written + buf.size() < limit) {
        std::string t = kTables[Pick(7)];
        put("<TABLE xmlns:" + t + "=\"urn:repository:" + t + "\">");
        int occs = 20 + Pick(40);
        for (int o = 0; o < occs && dense; ++o, ++occ) {
            DenseOccurrence(t, occ, put);
            if (buf.size() > (1 << 20)) {
                std::fwrite(buf.data(), 1, buf.size(), out);
                written += buf.size();
                buf.clear();
            }
        }
        for (int o = 0; o < occs && !dense; ++o, ++occ) {
            std::string p = "<" + t + ":";
            std::string e = "</" + t + ":";
            put("  <OCC>");
            put("    " + p + "ULABEL>" + Identifier() + "_" + std::to_string(occ) + e + "ULABEL>");
            if (t == "UXGROUP" || t == "UXFIELD") put("    " + p + "UBASE>Model_" + std::to_string(Pick(9)) + e + "UBASE>");
            if (t == "USOURCE") {
                put("    " + p + "USUB>PROC" + e + "USUB>");
                put("    " + p + "UVAR>Lib" + std::to_string(Pick(5)) + e + "UVAR>");
            }
            put("    " + p + "UDESCR>" + Identifier() + " of the " + Identifier() + e + "UDESCR>");
            std::string code = kCode[Pick(5)];
            int lines = 3 + Pick(40);
            put("    " + p + code + ">" + SourceLine());
            for (int l = 1; l < lines; ++l) put(Pick(30) ? SourceLine() : std::string());
            put(SourceLine() + e + code + ">");
            put("  </OCC>");
            if (buf.size() > (1 << 20)) {
                std::fwrite(buf.data(), 1, buf.size(), out);
                written += buf.size();
                buf.clear();
            }
        }
        put("</TABLE>");
    }
    put("</EXPORT>");
    std::fwrite(buf.data(), 1, buf.size(), out);
    return std::fclose(out) == 0 ? 0 : 2;
}
