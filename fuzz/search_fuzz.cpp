// Runs a whole search through the engine: the input's first line holds the
// search strings (separated by "|"; a leading "!" asks for whole words), the
// rest is the export. The matches and counts must be those of reading every
// line through the scanner alone, and the JSON writer must see every match.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

#include "json_writer.h"
#include "line_reader.h"
#include "match_log.h"
#include "scanner.h"
#include "search.h"

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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/reposearch-fuzz-" + std::to_string(getpid()) + ".xml";
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t lf = input.find('\n');
    std::string strings(input.substr(0, lf == std::string_view::npos ? input.size() : lf));
    const bool word = !strings.empty() && strings[0] == '!';
    if (word) strings.erase(0, 1);
    std::string_view exported = lf == std::string_view::npos ? std::string_view{} : input.substr(lf + 1);
    for (std::size_t bar; (bar = strings.find('|')) != std::string::npos;) strings.replace(bar, 1, "\r\n");

    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(exported.data(), 1, exported.size(), f);
    std::fclose(f);

    std::FILE* log = std::tmpfile();
    if (!log) return 0;
    std::FILE* json_file = std::tmpfile();
    if (!json_file) {
        std::fclose(log);
        return 0;
    }
    JsonWriter json(json_file);
    RunInputs in;
    in.srch_string = strings;
    in.word = word;
    in.sink = &json;
    in.srchfilename = path;
    in.log_stream = log;
    in.clock = [] { return std::time_t{1796633400}; };
    QuietDisplay display;
    RunResult r = Quelvar(display, in);
    if (r.outcome != RunOutcome::Completed) __builtin_trap();
    if (!JsonEnd(json, r)) __builtin_trap();
    std::string records(static_cast<std::size_t>(std::ftell(json_file)), '\0');
    std::rewind(json_file);
    if (std::fread(records.data(), 1, records.size(), json_file) != records.size()) __builtin_trap();
    std::fclose(json_file);
    std::string written(static_cast<std::size_t>(std::ftell(log)), '\0');
    std::rewind(log);
    if (std::fread(written.data(), 1, written.size(), log) != written.size()) __builtin_trap();
    std::fclose(log);

    // The same export line by line, nothing known of a line in advance.
    RunState run;
    if (!BuildSrchStrings(run, strings, word)) __builtin_trap();
    std::FILE* again = std::fopen(path.c_str(), "rb");
    if (!again) return 0;
    LineReader reader;
    StartLineReader(reader, again, {});
    std::string_view line;
    while (ReadLine(reader, line)) ProcessStream(run, line);
    std::fclose(again);
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
    DeAllocateEverything(run);
    return 0;
}
