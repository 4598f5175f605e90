// Feeds arbitrary bytes through the line splitter and the scanner with a few
// search strings, the log kept in memory.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "line_reader.h"
#include "match_log.h"
#include "scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RunState run;
    if (!BuildSrchStrings(run, "FOO\r\n<\r\nX\r\n\r\nUXGROUP:ULABEL")) return 0;
    std::size_t offset = 0;
    ReadBlock from_memory = [&](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
        // Short reads, so lines straddle refills of the buffer.
        std::size_t take = std::min<std::size_t>({n, size - offset, 1 + offset % 97});
        std::memcpy(dst, data + offset, take);
        offset += take;
        return static_cast<std::int64_t>(take);
    };
    LineReader reader;
    StartLineReader(reader, nullptr, from_memory);
    std::string_view line;
    while (ReadLine(reader, line)) {
        // What the reader's marks tell, as the run uses them.
        LineFacts facts;
        const std::size_t a = static_cast<std::size_t>(line.data() - reader.buffer.data());
        facts.may_hold_tag = AnyMark(reader.marks.tag.data(), a, a + line.size());
        facts.may_hold_zero = AnyMark(reader.marks.zero.data(), a, a + line.size());
        facts.tag_marks = reader.marks.tag.data();
        facts.marks_base = reader.buffer.data();
        ProcessStream(run, line, facts);
        if (run.output_file.buffer.size() > (1 << 20)) run.output_file.buffer.clear();
    }
    DeAllocateEverything(run);
    return 0;
}
