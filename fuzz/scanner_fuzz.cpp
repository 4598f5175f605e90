// Feeds arbitrary bytes through the blocks, their marks and the scanner
// with a few search strings, the log kept in memory.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "blocks.h"
#include "cpu.h"
#include "marks.h"
#include "match_log.h"
#include "scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RunState run;
    if (!BuildSrchStrings(run, "FOO\r\n<\r\nX\r\n\r\nUXGROUP:ULABEL")) return 0;
    std::size_t offset = 0;
    ReadBlock from_memory = [&](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
        // Short reads, so lines are carried from block to block.
        std::size_t take = std::min<std::size_t>({n, size - offset, 1 + offset % 97});
        std::memcpy(dst, data + offset, take);
        offset += take;
        return static_cast<std::int64_t>(take);
    };
    ExportReader reader;
    StartExportReader(reader, nullptr, from_memory);
    Block b;
    Marks marks;
    while (NextBlock(reader, b)) {
        SizeMarks(marks, b.buffer.room);
        MarkBytes(b.buffer.data(), b.begin, b.end, marks, HasAvx2() && offset % 2 == 0);
        const char* p = b.buffer.data();
        for (std::size_t at = b.begin; at < b.end;) {
            const std::size_t end = NextMark(marks.lf.data(), at, b.end);
            // What the marks tell, as the run uses them.
            LineFacts facts;
            facts.may_hold_tag = AnyMark(marks.tag.data(), at, end);
            facts.may_hold_zero = AnyMark(marks.zero.data(), at, end);
            facts.tag_marks = marks.tag.data();
            facts.marks_base = p;
            ProcessStream(run, std::string_view(p + at, end - at), facts);
            if (run.output_file.buffer.size() > (1 << 20)) run.output_file.buffer.clear();
            at = end + 1;
        }
    }
    DeAllocateEverything(run);
    return 0;
}
