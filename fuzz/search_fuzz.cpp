// Runs a whole search through the engine: the input's first line holds the
// search strings (separated by "|"; a leading "!" asks for whole words), the
// rest is the export, read in short pieces from memory, on one thread or two.
// The matches and counts must be those of reading every line through the
// scanner alone, the JSON writer must see every match, and the lines around
// hits (asked for by a third of the inputs) must be those that reading line
// by line hands over.
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#include <cstdlib>

#include "json_writer.h"
#include "match_log.h"
#include "scanner.h"
#include "search.h"
#include "utf16.h"

// Each run allocates its blocks afresh: a smaller quarantine for freed
// memory keeps the runs fast and small, and still sees a use after free
// within a run.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

namespace {

struct QuietDisplay final : Display {
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int pos) override {
        if (pos < 0 || pos > 100) __builtin_trap();
    }
    void SetProgressText(std::string_view) override {}
    void SetTimeLeft(std::string_view) override {}
    void ShowMessageBox(std::string_view, std::string_view) override {}
};

}  // namespace

// What a stream in memory was written, once it is closed.
struct MemoryStream {
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* file = open_memstream(&bytes, &size);
    ~MemoryStream() { std::free(bytes); }
    std::string Close() {
        std::fclose(file);
        return std::string(bytes, size);
    }
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The export is read from memory; the stream only stands for it.
    static std::FILE* const stands_for_the_export = std::fopen("/dev/null", "rb");
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t lf = input.find('\n');
    std::string strings(input.substr(0, lf == std::string_view::npos ? input.size() : lf));
    const bool word = !strings.empty() && strings[0] == '!';
    if (word) strings.erase(0, 1);
    std::string_view exported = lf == std::string_view::npos ? std::string_view{} : input.substr(lf + 1);
    for (std::size_t bar; (bar = strings.find('|')) != std::string::npos;) strings.replace(bar, 1, "\r\n");

    MemoryStream log, json_file;
    if (!stands_for_the_export || !log.file || !json_file.file) return 0;
    JsonWriter json(json_file.file);
    RunInputs in;
    // The export comes in short reads, so blocks end anywhere, on one thread
    // or with a second one reading ahead; a longer input in a few dozen reads
    // at most, as each block handed between the threads costs a wake-up.
    const std::size_t step = 1 + size % 61 + size / 32;
    in.single_thread = (size / 61) % 2 == 1;
    std::size_t offset = 0;
    in.read_block = [&](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
        std::size_t take = std::min({n, exported.size() - offset, step + offset % 7});
        if (take == 0) return 0;
        std::memcpy(dst, exported.data() + offset, take);
        offset += take;
        return static_cast<std::int64_t>(take);
    };
    in.srch_string = strings;
    in.word = word;
    in.sink = &json;
    if ((size / 13) % 3 == 0) {
        json.before = in.lines_before = 1 + static_cast<int>(size % 3);
        json.after = in.lines_after = static_cast<int>((size / 3) % 3);
    }
    in.srchfilename = "export.xml";
    in.export_stream = stands_for_the_export;
    in.export_size = exported.size();
    in.log_stream = log.file;
    in.clock = [] { return std::time_t{1796633400}; };
    QuietDisplay display;
    RunResult r = Quelvar(display, in);
    if (r.outcome != RunOutcome::Completed) __builtin_trap();
    if (!JsonEnd(json, r)) __builtin_trap();
    const std::string records = json_file.Close();
    const std::string written = log.Close();

    // The same export line by line, nothing known of a line in advance, the
    // lines split here: a line feed ends one, a carriage return before it is
    // dropped.
    // A UTF-16 export is converted whole first, as the reader converts it.
    std::string converted;
    if (const Encoding e = SniffEncoding(exported, true); e.utf16) {
        Utf16Decoder d;
        d.big_endian = e.big_endian;
        d.raw.assign(exported.begin() + static_cast<std::ptrdiff_t>(e.mark), exported.end());
        converted.resize(d.raw.size() * 2 + 8);
        converted.resize(DecodeUtf16(d, converted.data(), converted.size(), true));
        exported = converted;
    }
    RunState run;
    if (!BuildSrchStrings(run, strings, word)) __builtin_trap();
    MemoryStream near_file;
    if (!near_file.file) return 0;
    JsonWriter near(near_file.file);
    if (in.lines_before || in.lines_after) {
        near.before = in.lines_before;
        near.after = in.lines_after;
        StartAround(run.around_lines, in.lines_before, in.lines_after);
        run.around = &run.around_lines;
        run.sink = &near;
    }
    std::uint64_t line_number = 0;
    for (std::size_t at = 0; at < exported.size();) {
        std::size_t lf = exported.find('\n', at);
        std::size_t end = lf == std::string_view::npos ? exported.size() : lf;
        std::string_view line = exported.substr(at, end - at);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        run.export_line = ++line_number;
        ProcessStream(run, line);
        at = lf == std::string_view::npos ? exported.size() : lf + 1;
    }
    std::vector<const SearchString*> typed;
    for (const SearchString* s = run.next_srch_string; s; s = s->next_string) typed.insert(typed.begin(), s);
    std::string summary = "Result Summary:\r\n";
    for (const SearchString* s : typed) {
        std::string text(s->allocated_string, static_cast<std::size_t>(s->string_length - 1));
        std::string no_cr;
        for (char c : text) if (c != '\r') no_cr += c;
        summary += "'" + no_cr + "' found " + std::to_string(s->matching_lines) + " times\r\n";
    }
    const std::string& matches = run.output_file.buffer;
    std::size_t end = written.rfind("\r\nEnding search of file");
    if (end == std::string::npos || end < matches.size() ||
        written.compare(end - matches.size(), matches.size(), matches) != 0 ||
        written.size() < summary.size() || written.compare(written.size() - summary.size(), summary.size(), summary) != 0)
        __builtin_trap();
    // One match record per match line of the log.
    std::size_t match_lines = 0, match_records = 0;
    for (std::size_t at = 0; (at = matches.find("\r\n", at)) != std::string::npos; at += 2) ++match_lines;
    for (std::size_t at = 0; (at = records.find("{\"type\":\"match\"", at)) != std::string::npos; ++at)
        ++match_records;
    if (match_lines != match_records) __builtin_trap();
    // The same context records, in the same order.
    JsonEnd(near, r);
    const std::string near_records = near_file.Close();
    auto context_records = [](const std::string& all) {
        std::string out;
        for (std::size_t at = 0; (at = all.find("{\"type\":\"context\"", at)) != std::string::npos;) {
            const std::size_t end = all.find('\n', at);
            out.append(all, at, end - at + 1);
            at = end;
        }
        return out;
    };
    if (context_records(records) != context_records(near_records)) __builtin_trap();
    DeAllocateEverything(run);
    return 0;
}
