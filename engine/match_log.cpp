// The search-string list and the log writer.
#include "match_log.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// The buffer is handed to the file in writes of about this size.
constexpr std::size_t kLogFlushSize = 1 << 20;

void MaybeFlush(LogStream& log) {
    if (log.file && log.buffer.size() >= kLogFlushSize) FlushLog(log);
}

// Appends text with its carriage returns dropped.
void AppendWithoutCR(std::string& out, std::string_view text) {
    while (!text.empty()) {
        const void* cr = std::memchr(text.data(), '\r', text.size());
        if (!cr) {
            out.append(text);
            return;
        }
        std::size_t n = static_cast<const char*>(cr) - text.data();
        out.append(text.substr(0, n));
        text.remove_prefix(n + 1);
    }
}

// "%4lu": right-aligned in four columns, wider when it must be.
void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    std::uint64_t v = static_cast<std::uint64_t>(value);
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    for (int pad = n; pad < 4; ++pad) out.push_back(' ');
    while (n) out.push_back(digits[--n]);
}

}  // namespace

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

int BuildSrchStrings(RunState& run, std::string_view srch_string) {
    run.next_srch_string = nullptr;
    std::string_view work = srch_string;
    bool ok = true;
    // Every CR LF ends one string, an empty one included; only an empty rest
    // after the last pair is dropped.
    for (std::size_t pair; ok && (pair = work.find("\r\n")) != std::string_view::npos;) {
        ok = TryToAllocate(run, work.substr(0, pair).substr(0, kMaxSearchString)) == 1;
        if (ok) work.remove_prefix(pair + 2);
    }
    if (ok && !work.empty()) ok = TryToAllocate(run, work.substr(0, kMaxSearchString)) == 1;
    if (ok) {
        try {
            BuildMatcher(run.matcher, run.next_srch_string);
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
}

void ProcessMatches(RunState& run, std::string_view string_to_test, std::int64_t line_number) {
    if (MatchLine(run.matcher, string_to_test) == 0) return;

    const ScanContext& c = run.context;
    std::string& line = run.context_line;
    line.clear();
    struct Label {
        const char* text;
        const std::string* value;
    };
    const Label labels[] = {
        {"Library:", &c.current_library},       {"Form:", &c.current_form},
        {"Global:", &c.current_global},         {"Entry:", &c.current_entryname},
        {"Menubar:", &c.current_menubar},       {"Glyph:", &c.current_glyph},
        {"Sourcetype:", &c.current_sourcetype}, {"Model:", &c.current_model},
        {"Table:", &c.current_table},           {"Field:", &c.current_field},
    };
    for (const Label& label : labels) {
        if (label.value->empty()) continue;
        line.append(label.text);
        line.append(*label.value);
        line.append("  ");
    }
    if (!c.current_trigger.empty()) {
        line.append("Trigger:");
        line.append(c.current_trigger);
        line.push_back('(');
        AppendNumber(line, line_number);
        line.append(") ");
    }
    line.append(":: '");
    // The scanner hands data as read; the log shows it upper-cased.
    std::size_t at = line.size();
    line.append(string_to_test);
    for (std::size_t i = at; i < line.size(); ++i) line[i] = static_cast<char>(Fold(line[i]));
    line.append("'\n");
    AddMsgToOutputFile(run.output_file, line);
}

void AddMsgToOutputFile(LogStream& log, std::string_view text_to_add) {
    std::string& out = log.buffer;
    bool open_line = false;  // text written since the last line end
    while (!text_to_add.empty()) {
        const void* lf = std::memchr(text_to_add.data(), '\n', text_to_add.size());
        std::size_t n = lf ? static_cast<const char*>(lf) - text_to_add.data() : text_to_add.size();
        std::size_t before = out.size();
        AppendWithoutCR(out, text_to_add.substr(0, n));
        if (lf) {
            out.append("\r\n");
            open_line = false;
            text_to_add.remove_prefix(n + 1);
        } else {
            open_line = out.size() != before;
            text_to_add = {};
        }
    }
    if (open_line) out.append("\r\n");
    MaybeFlush(log);
}

void FlushLog(LogStream& log) {
    if (!log.file || log.buffer.empty()) return;
    if (std::fwrite(log.buffer.data(), 1, log.buffer.size(), log.file) != log.buffer.size())
        log.failed = true;
    log.buffer.clear();
}

bool CloseLog(LogStream& log, bool close_file) {
    if (log.file) {
        FlushLog(log);
        if (std::fflush(log.file) != 0 || std::ferror(log.file)) log.failed = true;
        if (close_file && std::fclose(log.file) != 0) log.failed = true;
        log.file = nullptr;
    }
    return !log.failed;
}
