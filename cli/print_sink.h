// --print: each hit on standard output as EXPORT:LINE:COLUMN:CONTEXT :: DATA,
// the form editors' quickfix lists and grep modes read, with the lines
// around it as grep shows them (EXPORT-LINE-DATA, "--" between groups).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../engine/sink.h"

struct PrintSink final : HitSink {
    std::FILE* out = nullptr;
    std::string export_name;
    bool color = false;     // the strings highlighted, the place dimmed
    bool escape = false;  // the text's control bytes shown (AppendShown), never sent: for a terminal or with colour
    bool word = false;   // strings count as whole words only
    int before = 0;      // lines of the element shown before each hit
    int after = 0;       // and after it
    bool failed = false;  // some write did not go through
    bool closed = false;  // the stream's reader went away (a pipe)
    void (*on_closed)() = nullptr;  // called once when it does
    const std::atomic<bool>* stop = nullptr;  // when raised, a pipe that takes nothing is given up
    bool each_line = false;  // every line handed over as it comes (a terminal)
    bool separate_first = false;  // "--" before the first group too: another export's came before

    void Begin(const SearchStart& start) override;
    bool OnHit(const Hit& hit) override;
    void OnNearLine(const NearLine& line) override;
    void Finish(const RunResult& result) override;

    // Scratch and state between lines.
    std::string buffer;
    std::uint64_t last_line = 0;  // the export's line printed last, 0 for none
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    std::vector<char> marked;
    std::vector<std::string> needles;  // each string upper-cased
    std::string folded;                // a hit's data upper-cased
    std::uint64_t last_element = 0;  // of the line printed last: which element, and its line there
    std::int64_t last_element_line = 0;
    void Separate(std::uint64_t export_line, std::uint64_t element, std::int64_t element_line);  // "--" between groups
    void MaybeWrite();  // hands a full buffer to the stream
    void Write();
};

// Whether NO_COLOR asks for no colour: set and not empty.
bool NoColorAsked();
