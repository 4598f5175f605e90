// What the reading rules cannot see, export by export.
#include "checks.h"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "../engine/json_writer.h"
#include "../engine/search_run.h"
#include "../engine/text.h"
#include "input.h"
#include "terminal.h"

namespace {

// What each kind of finding is called: in the text, and in JSON.
struct Kind {
    const char* heading;
    const char* key;
};
constexpr Kind kKinds[kFindings] = {
    {"text holding a tag that is not read", "unread_tag"},
    {"elements taken for context elements by a part of a name", "context_by_part"},
    {"an element open to the end of the export", "never_closed"},
};

std::string AsText(const std::string& name, const CheckResult& r) {
    std::string out = name + ": ";
    const std::uint64_t total = r.found.Total();
    if (total == 0) return out + "nothing the reading cannot see (" + std::to_string(r.lines) + " lines)\n";
    out += std::to_string(total) + (total == 1 ? " place" : " places") + " where the reading loses or misplaces text\n";
    for (std::size_t k = 0; k < kFindings; ++k) {
        if (r.found.count[k] == 0) continue;
        out += "  " + std::string(kKinds[k].heading) + ": " + std::to_string(r.found.count[k]) + "\n";
        for (const FoundPlace& place : r.found.first[k])
            out += "    " + name + ":" + std::to_string(place.export_line) + ": " + place.what + "\n";
        if (r.found.count[k] > r.found.first[k].size())
            out += "    ... and " + std::to_string(r.found.count[k] - r.found.first[k].size()) + " more\n";
    }
    return out;
}

std::string AsJson(const std::string& name, const CheckResult& r) {
    std::string out = "{\"type\":\"check\",\"data\":{\"export\":";
    AppendJsonText(out, name);
    RunResult outcome;
    outcome.outcome = r.outcome;
    outcome.log_complete = true;
    out += ",\"outcome\":\"" + std::string(OutcomeName(outcome)) + "\",\"lines\":";
    AppendNumber(out, r.lines);
    out += ",\"findings\":[";
    for (std::size_t k = 0; k < kFindings; ++k) {
        if (k) out += ',';
        out += "{\"kind\":\"" + std::string(kKinds[k].key) + "\",\"count\":";
        AppendNumber(out, r.found.count[k]);
        out += ",\"places\":[";
        for (std::size_t i = 0; i < r.found.first[k].size(); ++i) {
            if (i) out += ',';
            out += "{\"line\":";
            AppendNumber(out, r.found.first[k][i].export_line);
            out += ",\"what\":";
            AppendJsonText(out, r.found.first[k][i].what);
            out += '}';
        }
        out += "]}";
    }
    return out + "]}}\n";
}

}  // namespace

int RunChecks(const CheckPlan& plan) {
    bool failed = false, found = false;
    const bool terminal = IsTerminal(stdout);
    for (const ExportItem& item : plan.exports) {
        if (plan.cancel && plan.cancel->load()) break;
        if (!item.failure.empty()) {
            Tell(item.name + ": " + item.failure);
            failed = true;
            continue;
        }
        RunInputs inputs;
        inputs.srchfilename = item.name;
        inputs.cancel = plan.cancel;
        if (item.from_stdin) {
#ifdef _WIN32
            _setmode(_fileno(stdin), _O_BINARY);
#endif
            inputs.export_stream = stdin;
        }
        TerminalDisplay display;
        display.show_progress = plan.show_progress;
        RunSeams seams;
        seams.read_block = StoppableReader(plan.cancel);  // a pipe that sends nothing holds no stop
        seams.open_export = OpenExportFile;                // nor one that no writer opens
        seams.read_at = PositionedReader();                // a file: each thread reads its blocks
        const CheckResult r = CheckExport(display, inputs, seams);
        display.line.Erase();
        if (r.outcome == RunOutcome::ExportNotOpened) {
            Tell(item.name + ": cannot open the export: " + r.error);
            failed = true;
            continue;
        }
        if (r.outcome != RunOutcome::Completed) {
            Tell(item.name + (r.outcome == RunOutcome::ReadError ? ": a read error stopped the check"
                              : r.outcome == RunOutcome::Interrupted ? ": the check was interrupted"
                                                                     : ": not enough memory for the check"));
            failed = true;
            if (!plan.json) continue;
        }
        found = found || r.found.Total() > 0;
        const std::string out = plan.json ? AsJson(item.name, r) : AsText(item.name, r);
        if (!WriteAll(stdout, terminal && plan.json ? JsonShown(out) : out)) {
            Tell("writing to standard output failed");
            return 2;
        }
    }
    return failed ? 2 : found ? 1 : 0;
}
