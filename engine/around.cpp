// The lines around hits, within their element.
#include "around.h"

#include "run_state.h"

namespace {

void HandOver(RunState& run, const std::string& data, std::uint64_t export_line, std::int64_t element_line, int before,
              int after) {
    const NearLine line{data, export_line, element_line, before, after, run.around.element};
    for (HitSink* sink : run.output.sinks) sink->OnNearLine(line);
}

}  // namespace

void StartAround(AroundLines& a, int before, int after) {
    a = AroundLines{};
    a.before = before;
    a.after = after;
    a.ring.resize(static_cast<std::size_t>(before));
}

void NoteDataLine(RunState& run, std::string_view data, std::int64_t element_line) {
    AroundLines& a = run.around;
    // Lines of an element are numbered on from 1; any other number starts
    // another element, and nothing of the last one is near it.
    if (element_line != a.last_element_line + 1) {
        a.count = 0;
        a.after_left = 0;
        a.since_hit = 0;
        ++a.element;
    }
    a.last_element_line = element_line;
    int after = 0;
    if (a.after_left > 0) {
        --a.after_left;
        after = ++a.since_hit;
    }
    if (a.before == 0 && after == 0) return;  // nothing will want it
    std::string* kept = nullptr;
    std::string scratch;
    if (a.before > 0) {
        const std::size_t size = a.ring.size();
        AroundLines::Noted& n = a.ring[(a.first + a.count) % size];
        if (a.count == size)
            a.first = (a.first + 1) % size;
        else
            ++a.count;
        n.export_line = run.place.export_line;
        n.element_line = element_line;
        n.after = after;
        kept = &n.data;
    } else {
        kept = &run.output.scratch;
    }
    kept->assign(data);
    if (after > 0) HandOver(run, *kept, run.place.export_line, element_line, 0, after);
}

void BeforeHit(RunState& run, std::int64_t element_line) {
    AroundLines& a = run.around;
    if (element_line != a.last_element_line + 1) {
        a.count = 0;
        a.after_left = 0;
        ++a.element;
    }
    for (std::size_t i = 0; i < a.count; ++i) {
        const AroundLines::Noted& n = a.ring[(a.first + i) % a.ring.size()];
        const std::int64_t before = element_line - n.element_line;
        if (before >= 1 && before <= a.before)
            HandOver(run, n.data, n.export_line, n.element_line, static_cast<int>(before), n.after);
    }
    a.count = 0;
    a.first = 0;
}

void AfterHit(RunState& run, std::int64_t element_line) {
    AroundLines& a = run.around;
    a.last_element_line = element_line;
    a.after_left = a.after;
    a.since_hit = 0;
}

bool AwaitsLinesAfter(const RunState& run) {
    return run.around_sought && run.around.after_left > 0 && run.structure.next_level == 4;
}
