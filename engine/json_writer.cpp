// The JSON Lines writer.
#include "json_writer.h"

#include <array>
#include <cerrno>

#include "context.h"
#include "text.h"

namespace {

bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8CharLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}


void AppendEscaped(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out.append("\\u00");
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 15]);
            } else {
                out.push_back(ch);
            }
        }
    }
}

// Export text as it stands, carriage returns dropped (the log drops them too).
void AppendLogText(std::string& out, std::string_view text, std::string& scratch) {
    if (text.find('\r') == std::string_view::npos) return AppendJsonText(out, text);
    scratch.clear();
    AppendWithoutCr(scratch, text);
    AppendJsonText(out, scratch);
}

void Emit(JsonWriter& json, bool flush) {
    if (flush || json.buffer.size() >= (std::size_t{1} << 16)) {
        errno = 0;
        if (!json.buffer.empty() && !json.closed &&
            !(json.write ? json.write(json.buffer)
                         : std::fwrite(json.buffer.data(), 1, json.buffer.size(), json.out) == json.buffer.size())) {
            if (errno == ECANCELED) {
                json.closed = true;
            } else {
                json.failed = true;
                if (errno == EPIPE) {
                    json.closed = true;
                    if (json.on_closed) json.on_closed();
                }
            }
        }
        json.buffer.clear();
    }
}

}  // namespace

std::size_t Utf8CharLength(std::string_view text, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char c = p[at];
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - at < len || p[at + 1] < low || p[at + 1] > high) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if ((p[at + k] & 0xC0) != 0x80) return 0;
    return len;
}

void AppendJsonText(std::string& out, std::string_view text) {
    if (IsUtf8(text)) {
        out.append("{\"text\":\"");
        AppendEscaped(out, text);
    } else {
        out.append("{\"bytes\":\"");
        AppendBase64(out, text);
    }
    out.append("\"}");
}

namespace {

// "in":[{"field":F,"patterns":[...]},...] for the limits of one kind.
void AppendLimits(std::string& out, std::string_view kind, const std::vector<FieldLimit>& limits) {
    out.push_back('"');
    out.append(kind);
    out.append("\":[");
    for (std::size_t i = 0; i < limits.size(); ++i) {
        if (i) out.push_back(',');
        out.append("{\"field\":\"");
        out.append(LimitFieldName(limits[i].field));
        out.append("\",\"patterns\":[");
        for (std::size_t k = 0; k < limits[i].patterns.size(); ++k) {
            if (k) out.push_back(',');
            AppendJsonText(out, limits[i].patterns[k]);
        }
        out.append("]}");
    }
    out.push_back(']');
}

}  // namespace

void JsonBegin(JsonWriter& json, std::string_view export_name, const std::vector<std::string>& strings,
               const Limits* limits) {
    std::string& out = json.buffer;
    out.append("{\"type\":\"begin\",\"data\":{\"export\":");
    AppendJsonText(out, export_name);
    out.append(",\"strings\":[");
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (i) out.push_back(',');
        AppendJsonText(out, strings[i]);
    }
    out.push_back(']');
    if (limits && !limits->Empty()) {
        out.append(",\"limits\":{");
        AppendLimits(out, "in", limits->in);
        out.push_back(',');
        AppendLimits(out, "not_in", limits->not_in);
        out.push_back('}');
    }
    out.append("}}\n");
    Emit(json, false);
}

void JsonWriter::Begin(const SearchStart& start) {
    strings = start.strings;
    JsonBegin(*this, start.export_name, start.strings, start.limits);
}

void JsonWriter::Finish(const RunResult& result) { JsonEnd(*this, result); }

void JsonWriter::OnNearLine(const NearLine& line) {
    if (!Shows(line, before, after)) return;
    std::string scratch;
    std::string& out = buffer;
    out.append("{\"type\":\"context\",\"data\":{\"export_line\":");
    AppendNumber(out, line.export_line);
    out.append(",\"element_line\":");
    AppendNumber(out, static_cast<std::uint64_t>(line.element_line));
    out.append(",\"data\":");
    AppendLogText(out, line.data, scratch);
    out.append("}}\n");
    Emit(*this, false);
}

bool JsonWriter::OnHit(const Hit& hit) {
    std::string scratch;
    std::string& out = buffer;
    out.append("{\"type\":\"match\",\"data\":{\"export_line\":");
    AppendNumber(out, hit.export_line);
    out.append(",\"byte_offset\":");
    AppendNumber(out, hit.byte_offset);
    out.append(",\"element\":");
    AppendLogText(out, hit.context.current_trigger, scratch);
    out.append(",\"element_line\":");
    AppendNumber(out, static_cast<std::uint64_t>(hit.element_line));
    out.append(",\"context\":{");
    bool first = true;
    for (std::size_t i = 0; i < kElementField; ++i) {
        const ContextField& f = kContextFields[i];
        const std::string& value = hit.context.*f.value;
        if (value.empty()) continue;
        if (!first) out.push_back(',');
        first = false;
        out.push_back('"');
        out.append(f.key);
        out.append("\":");
        AppendLogText(out, value, scratch);
    }
    out.append("},\"data\":");
    AppendLogText(out, hit.data, scratch);
    out.append(",\"strings\":[");
    for (std::size_t i = 0; i < hit.strings.size(); ++i) {
        if (i) out.push_back(',');
        AppendJsonText(out, strings[hit.strings[i]]);
    }
    out.append("]}}\n");
    Emit(*this, false);
    return !closed;
}

std::string_view OutcomeName(const RunResult& result) {
    switch (result.outcome) {
    case RunOutcome::OutOfMemory: return "out_of_memory";
    case RunOutcome::LogNotOpened: return "log_incomplete";  // no log at all
    case RunOutcome::ExportNotOpened: return "export_not_opened";
    case RunOutcome::ReadError: return "read_error";
    case RunOutcome::Interrupted: return "interrupted";
    case RunOutcome::Completed: break;
    }
    return result.log_complete ? "completed" : "log_incomplete";
}

namespace {

void AppendCounts(std::string& out, const std::vector<StringCount>& counts) {
    out.append("\"counts\":[");
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (i) out.push_back(',');
        out.append("{\"string\":");
        AppendJsonText(out, counts[i].text);
        out.append(",\"count\":");
        AppendNumber(out, static_cast<std::uint64_t>(counts[i].count));
        out.push_back('}');
    }
    out.append("]}}\n");
}

bool Finish(JsonWriter& json) {
    Emit(json, true);
    if (std::fflush(json.out) != 0 || std::ferror(json.out)) json.failed = true;
    return !json.failed;
}

}  // namespace

bool JsonEnd(JsonWriter& json, const RunResult& result) {
    std::string& out = json.buffer;
    out.append("{\"type\":\"end\",\"data\":{\"outcome\":\"");
    out.append(OutcomeName(result));
    out.append("\",\"lines\":");
    AppendNumber(out, result.lines);
    out.push_back(',');
    AppendCounts(out, result.counts);
    return Finish(json);
}

bool JsonSummary(JsonWriter& json, std::size_t completed, std::size_t failed, const std::vector<StringCount>& totals) {
    std::string& out = json.buffer;
    out.append("{\"type\":\"summary\",\"data\":{\"exports\":");
    AppendNumber(out, completed + failed);
    out.append(",\"completed\":");
    AppendNumber(out, completed);
    out.append(",\"failed\":");
    AppendNumber(out, failed);
    out.push_back(',');
    AppendCounts(out, totals);
    return Finish(json);
}
