// The two visitors of the levels' machine: the context kept and the data
// tested, or the structure alone.
#include "reading.h"

#include "match_log.h"

namespace {

struct ContextVisitor {
    static constexpr bool kContext = true;
    RunState& run;
    const std::uint64_t* starts;  // where strings start in the block
    const char* base;

    void Occurrence(std::size_t) { ClearContext(run.context); }
    void Opened(std::string_view name) {
        run.context.current_trigger.assign(name);
        run.context.trigger_line = 0;
    }
    void Data(std::string_view text) {
        ++run.context.trigger_line;
        ProcessMatches(run, text, run.context.trigger_line, starts, base);
    }
    void Closed(std::string_view text, bool names_context, int field) {
        ++run.context.trigger_line;
        if (!names_context) {
            ProcessMatches(run, text, run.context.trigger_line, starts, base);
        } else if (field >= 0) {  // stored, never searched
            (run.context.*kContextFields[static_cast<std::size_t>(field)].value).assign(text);
        }
    }
    void Skipped(std::size_t, Unread) {}
};

struct StructureVisitor {
    static constexpr bool kContext = false;
    const Structure& s;
    OccurrenceMark& occurrence;

    void Occurrence(std::size_t text) { occurrence = {true, text, s.selected_row}; }
    void Opened(std::string_view) {}
    void Data(std::string_view) {}
    void Closed(std::string_view, bool, int) {}
    void Skipped(std::size_t, Unread) {}
};

}  // namespace

const TagEntry* ReadInFull(RunState& run, const BlockLines& lines, const TagEntry* e, std::size_t from,
                           std::size_t to, std::uint64_t export_line, std::size_t first_pos) {
    const Block& b = lines.block;
    const char* base = b.buffer.data();
    ContextVisitor v{run, lines.marks.match.data(), base};
    LinePlace& place = run.place;
    for (std::size_t at = from, pos = first_pos; at < to; pos = at, ++export_line) {
        const std::size_t lf = NextMark(lines.marks.lf.data(), at, b.end);
        LineTags l = e->at < lf ? LineTagsAt(base, e, lf) : LineTags{base, e, e, lf, lf};
        while (l.end > at && IsBlank(base[l.end - 1])) --l.end;
        if (e->at < lf) e = PastLine(e);
        place.export_line = export_line;
        place.at = at;
        place.end = lf;
        place.first_of_block = at == b.begin;
        if (l.first == l.last) {  // no tag: one more line of data inside an element, else nothing
            if (run.structure.next_level == 4 && pos < l.end) v.Data(std::string_view(base + pos, l.end - pos));
        } else {
            ReadLine(run.structure, l, pos, v);
        }
        at = lf + 1;
    }
    return e;
}

const TagEntry* WalkLines(Structure& s, const char* base, const TagEntry* e, std::size_t stop,
                          OccurrenceMark& occurrence) {
    StructureVisitor v{s, occurrence};
    constexpr std::size_t kNoCut = ~std::size_t{0};  // a line without a zero byte: its tags end before its line feed
    while (e->at < stop) {
        // The commonest line, an element of the occurrence opened and
        // closed by its own end tag with nothing after it, leaves the
        // structure as it was: nothing to read.
        if (s.next_level == 3 && e->kind == TagKind::ElementStart && e->paired && e[1].last_in_line &&
            e->row == s.selected_row) {
            e += 2;
            continue;
        }
        // Inside an element only an end tag of its table can move the
        // structure: the lines before the next one are passed over.
        if (s.next_level == 4 && !(e->kind == TagKind::ElementEnd && e->row == s.selected_row)) {
            const TagEntry* end = e;
            while (end->at < stop && !(end->kind == TagKind::ElementEnd && end->row == s.selected_row)) ++end;
            if (end->at >= stop) return end;
            while (end != e && !end[-1].last_in_line) --end;  // from its line's first entry
            e = end;
        }
        const LineTags l = LineTagsAt(base, e, kNoCut);
        ReadLine(s, l, e->at, v);
        e = PastLine(e);
    }
    return e;
}
