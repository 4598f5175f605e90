// Rebuilding the state where a hit may be, and scanning the line in full.
#include "replay.h"

#include "scanner.h"

namespace {

LineFacts FactsOf(const Block& b, const Marks& m, std::size_t at, std::size_t end) {
    LineFacts facts;
    facts.may_hold_tag = AnyMark(m.tag.data(), at, end);
    facts.may_hold_zero = AnyMark(m.zero.data(), at, end);
    facts.tag_marks = m.tag.data();
    facts.marks_base = b.buffer.data();
    return facts;
}

// Scans the lines from `from` (the export's line `export_line`) to `to`
// (line starts) in full, none holding a hit.
void Replay(RunState& run, const Block& b, const Marks& m, std::size_t from, std::uint64_t export_line,
            std::size_t to) {
    const char* base = b.buffer.data();
    for (std::size_t at = from; at < to; ++export_line) {
        const std::size_t end = NextMark(m.lf.data(), at, to);
        LineFacts facts = FactsOf(b, m, at, end);
        facts.may_match = false;
        run.export_line = export_line;
        ProcessStream(run, std::string_view(base + at, end - at), facts);
        at = end + 1;
    }
}

}  // namespace

void RebuildState(RunState& run, const Block& b, const Marks& m, std::size_t from, std::uint64_t from_export_line,
                  const OccurrenceMark& occurrence, std::size_t to) {
    if (!occurrence.set || occurrence.text < from) {
        Replay(run, b, m, from, from_export_line, to);
        return;
    }
    // The occurrence's line: what follows its "<OCC>", then the lines after it.
    const char* base = b.buffer.data();
    const std::size_t lf_before = LastMark(m.lf.data(), from, occurrence.text);
    const std::size_t start = lf_before == occurrence.text ? from : lf_before + 1;
    const std::size_t end = NextMark(m.lf.data(), occurrence.text, to);
    StartOccurrence(run, occurrence.row);
    // Its line's number, only where the lines around hits need it.
    const std::uint64_t export_line = run.around ? from_export_line + CountMarks(m.lf.data(), from, start) : 0;
    run.export_line = export_line;
    LineFacts facts = FactsOf(b, m, start, end);
    facts.may_match = false;
    const std::string_view line = TrimmedLine(std::string_view(base + start, end - start), facts);
    const std::size_t text = occurrence.text - start;
    if (text < line.size()) ProcessRest(run, line.substr(text), facts);
    Replay(run, b, m, end + 1, export_line + 1, to);
}

void ScanInFull(RunState& run, const Block& b, const Marks& m, std::size_t at, std::size_t end, std::uint32_t line,
                LinePlace& place) {
    run.export_line = place.export_line + line;
    run.line_offset = line == 0 && b.continues_cut ? b.cut_offset : FileOffsetAt(b, at, place.cursor);
    run.match_marks = m.match.data();
    run.marks_base = b.buffer.data();
    run.line_start = b.buffer.data() + at;
    run.line_end = b.buffer.data() + end;
    ProcessStream(run, std::string_view(b.buffer.data() + at, end - at), FactsOf(b, m, at, end));
    run.match_marks = nullptr;
    run.line_start = nullptr;
}
