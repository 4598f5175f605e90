// A data line against the strings, and a hit to the sinks.
#include "match_log.h"

#include "around.h"
#include "run_state.h"

std::uint64_t LineOffset(LinePlace& place) {
    const Block& b = *place.block;
    return place.first_of_block && b.continues_cut ? b.cut_offset : FileOffsetAt(b, place.at, place.cursor);
}

void ProcessMatches(RunState& run, std::string_view string_to_test, std::int64_t line_number,
                    const std::uint64_t* starts, const char* base) {
    const Query& q = run.query;
    Output& out = run.output;
    // Marks are looked at only where a string may start; no hit outside the
    // limits, not even counted.
    const bool none = q.matcher.empties.empty() &&
                      (string_to_test.empty() ||
                       !AnyMark(starts, static_cast<std::size_t>(string_to_test.data() - base),
                                static_cast<std::size_t>(string_to_test.data() - base) + string_to_test.size()));
    const int found =
        none || (q.limits && !WithinLimits(*q.limits, run.context, out.limits_memo))
            ? 0
            : MatchLine(q.matcher, out.found, string_to_test, starts,
                        string_to_test.empty() ? 0 : static_cast<std::size_t>(string_to_test.data() - base));
    if (found == 0) {
        if (run.around_sought) NoteDataLine(run, string_to_test, line_number);
        return;
    }
    for (std::uint32_t index : out.found.found) ++out.strings[index].matching_lines;
    if (run.around_sought) BeforeHit(run, line_number);
    // Where the data starts in the line, when it is a piece of it (the data
    // of an element that closes itself is none).
    const LinePlace& place = run.place;
    const char* at = string_to_test.data();
    const char* line = place.block->buffer.data();
    const std::size_t data_at = at && at >= line + place.at && at <= line + place.end
                                    ? static_cast<std::size_t>(at - (line + place.at))
                                    : 0;
    const std::uint64_t element = run.around_sought ? run.around.element : 0;
    const Hit hit{run.context, line_number, string_to_test, out.found.found, place.export_line, LineOffset(run.place),
                  data_at, element};
    for (HitSink* sink : out.sinks)
        if (!sink->OnHit(hit)) out.stop = true;
    if (run.around_sought) AfterHit(run, line_number);
}
