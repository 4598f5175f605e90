// The visitor that notes what the reading rules cannot see.
#include "check.h"

#include "marks.h"

namespace {

// A piece of the export for a message: at most 80 bytes of it.
std::string Piece(const char* p, std::size_t n) {
    return n <= 80 ? std::string(p, n) : std::string(p, 77) + "...";
}

void Note(Findings& found, Finding kind, std::uint64_t line, std::string what) {
    const std::size_t k = static_cast<std::size_t>(kind);
    if (found.first[k].size() < kFirstPlaces) found.first[k].push_back({line, std::move(what)});
    ++found.count[k];
}

struct CheckVisitor {
    static constexpr bool kContext = true;  // whether each element names context is looked up
    const Structure& s;
    Findings& found;
    const char* base;
    const LineTags* line = nullptr;
    std::uint64_t export_line = 0;
    const char* opened = nullptr;  // the start tag of the element opened last on the line
    std::string_view name;         // its name as it stands

    // The name of the element being closed: opened on this line, or kept
    // from the line where it opened.
    std::string_view Name() const { return opened ? name : std::string_view(found.open_name); }

    void Occurrence(std::size_t) {}
    void Opened(std::string_view raw) {
        opened = raw.data() - kTables[static_cast<std::size_t>(s.selected_row)].level3.size();
        name = raw;
    }
    void Data(std::string_view) {}
    void Closed(std::string_view, bool names_context, int field) {
        if (!names_context) return;
        const std::string_view whole = ContextNameHolding(s.selected_row, s.selected_level4);
        if (whole.empty()) return;
        const std::string_view prefix = kTables[static_cast<std::size_t>(s.selected_row)].level3;
        std::string what = std::string(prefix) + std::string(Name()) + "> is taken for " + std::string(whole);
        what += field >= 0 ? ": its value is stored as " +
                                 std::string(kContextFields[static_cast<std::size_t>(field)].label) + " and not searched"
                           : ", which names no context here: its value is neither stored nor searched";
        Note(found, Finding::ContextByPart, export_line, std::move(what));
    }
    void Skipped(std::size_t at, Unread why) {
        // The unread text, up to the line's end or its first zero byte.
        std::size_t end = at;
        while (end < line->cut && base[end] != '\n' && base[end] != '\r') ++end;
        const std::string text = Piece(base + at, end - at);
        const std::string_view prefix = kTables[static_cast<std::size_t>(s.selected_row)].level3;
        Note(found, Finding::UnreadTag, export_line,
             why == Unread::AfterSearchedElement
                 ? "after </" + std::string(prefix.substr(1)) + std::string(Name()) + "> the rest of the line is not read: " + text
                 : "no \">\" ends the start tag on its line, so nothing opens and the line is not read: " + text);
    }
};

}  // namespace

void CheckLines(Structure& s, Findings& found, const char* base, std::size_t begin, const std::uint64_t* lf,
                const TagEntry* e, std::uint64_t export_line) {
    CheckVisitor v{s, found, base, nullptr, 0, nullptr, {}};
    std::size_t counted = begin;  // the line feeds before here are counted in export_line
    while (e->kind != TagKind::End) {
        export_line += CountMarks(lf, counted, e->at);
        counted = e->at;
        const std::size_t line_end = NextMark(lf, e->at, ~std::size_t{0} >> 1);
        const LineTags l = LineTagsAt(base, e, line_end);
        v.line = &l;
        v.export_line = export_line;
        v.opened = nullptr;
        ReadLine(s, l, e->at, v);
        if (v.opened && s.next_level == 4) {  // an element goes on past its line
            found.open_name.assign(v.name);
            const char* end = v.opened;
            while (end < base + line_end && *end != '>') ++end;
            found.open_tag = Piece(v.opened, static_cast<std::size_t>(end - v.opened) + 1);
            found.open_line = export_line;
        }
        e = PastLine(e);
    }
}

void CheckEnd(const Structure& s, Findings& found, std::uint64_t lines) {
    if (s.next_level != 4 || found.open_line == 0) return;
    Note(found, Finding::NeverClosed, found.open_line,
         found.open_tag + " never ends: the " + std::to_string(lines - found.open_line) +
             " lines after it are read as its data");
}
