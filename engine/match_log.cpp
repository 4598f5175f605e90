// The search-string list and the test of each data line against it.
#include "match_log.h"

#include <cstring>
#include <new>
#include <vector>

int TryToAllocate(RunState& run, std::string_view pass_string) {
    char* copy = new (std::nothrow) char[pass_string.size() + 1];
    if (!copy) return 0;
    SearchString* record = new (std::nothrow) SearchString;
    if (!record) {
        delete[] copy;
        return 0;
    }
    if (!pass_string.empty()) std::memcpy(copy, pass_string.data(), pass_string.size());
    copy[pass_string.size()] = '\0';
    record->allocated_string = copy;
    record->string_length = static_cast<std::int32_t>(pass_string.size() + 1);
    record->matching_lines = 0;
    record->next_string = run.next_srch_string;
    run.next_srch_string = record;
    return 1;
}

namespace {

// Builds the matcher over a list whose strings all went in; frees it all
// when something failed.
int FinishStrings(RunState& run, bool ok, bool word) {
    if (ok) {
        try {
            BuildMatcher(run.matcher, run.next_srch_string, word);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    if (!ok) {
        DeAllocateEverything(run);
        return 0;
    }
    return 1;
}

}  // namespace

int BuildSrchStrings(RunState& run, std::string_view srch_string, bool word) {
    run.next_srch_string = nullptr;
    std::string_view work = srch_string;
    bool ok = true;
    // Every CR LF ends one string, an empty one included; only an empty rest
    // after the last pair is dropped.
    for (std::size_t pair; ok && (pair = work.find("\r\n")) != std::string_view::npos;) {
        ok = TryToAllocate(run, work.substr(0, pair)) == 1;
        if (ok) work.remove_prefix(pair + 2);
    }
    if (ok && !work.empty()) ok = TryToAllocate(run, work) == 1;
    return FinishStrings(run, ok, word);
}

int BuildSrchStrings(RunState& run, const std::vector<std::string>& strings, bool word) {
    run.next_srch_string = nullptr;
    bool ok = true;
    for (std::size_t i = 0; ok && i < strings.size(); ++i)
        ok = TryToAllocate(run, strings[i]) == 1;
    return FinishStrings(run, ok, word);
}

void DeAllocateEverything(RunState& run) {
    SearchString* record = run.next_srch_string;
    while (record) {
        SearchString* next = record->next_string;
        delete[] record->allocated_string;
        delete record;
        record = next;
    }
    run.next_srch_string = nullptr;
    run.matcher = Matcher{};
    run.found = LineMatch{};
}

void ProcessMatches(RunState& run, std::string_view string_to_test, std::int64_t line_number) {
    // No hit outside the limits: not even counted.
    const int found = run.limits && !WithinLimits(*run.limits, run.context, run.limits_memo) ? 0
                      : run.match_marks ? MatchLineAt(run.matcher, run.found, string_to_test, run.match_marks,
                                                      static_cast<std::size_t>(string_to_test.data() - run.marks_base))
                                        : MatchLine(run.matcher, run.found, string_to_test);
    if (found == 0) {
        if (run.around) NoteDataLine(run, string_to_test, line_number);
        return;
    }
    if (run.around) BeforeHit(run, line_number);
    // The scanner hands data as read; the sinks see it upper-cased.
    std::string& data = run.folded_data;
    data.resize(string_to_test.size());
    FoldInto(data.data(), string_to_test);
    // Where the data starts in the line, when it is a piece of it (the data
    // of an element that closes itself is none).
    const char* at = string_to_test.data();
    const std::size_t data_at = run.line_start && at >= run.line_start && at <= run.line_end
                                    ? static_cast<std::size_t>(at - run.line_start)
                                    : 0;
    const std::uint64_t element = run.around ? run.around->element : 0;
    const Hit hit{run.context, line_number, data, run.found.found, run.export_line, run.line_offset, data_at, element};
    run.log_writer.OnHit(hit);
    if (run.sink) run.sink->OnHit(hit);
    if (run.around) AfterHit(run, line_number);
}

void DataLine(RunState& run, std::string_view data, std::int64_t line_number, bool may_match) {
    if (may_match)
        ProcessMatches(run, data, line_number);
    else if (run.around)
        NoteDataLine(run, data, line_number);
}
