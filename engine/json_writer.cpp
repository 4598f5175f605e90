// The JSON Lines writer.
#include "json_writer.h"

#include <array>

#include "match_log.h"

namespace {

bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8CharLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

void AppendBase64(std::string& out, std::string_view bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = std::uint32_t{p[i]} << 16 | std::uint32_t{p[i + 1]} << 8 | p[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out.push_back(kDigits[(v >> shift) & 63]);
    }
    if (const std::size_t rest = bytes.size() - i) {
        std::uint32_t v = std::uint32_t{p[i]} << 16;
        if (rest == 2) v |= std::uint32_t{p[i + 1]} << 8;
        out.push_back(kDigits[v >> 18 & 63]);
        out.push_back(kDigits[v >> 12 & 63]);
        out.push_back(rest == 2 ? kDigits[v >> 6 & 63] : '=');
        out.push_back('=');
    }
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

// Export text as the log shows it: carriage returns dropped.
void AppendLogText(std::string& out, std::string_view text, std::string& scratch) {
    if (text.find('\r') == std::string_view::npos) return AppendJsonText(out, text);
    scratch.clear();
    for (char c : text)
        if (c != '\r') scratch.push_back(c);
    AppendJsonText(out, scratch);
}

void AppendNumber(std::string& out, std::uint64_t value) { out.append(std::to_string(value)); }

void Emit(JsonWriter& json, bool flush) {
    if (flush || json.buffer.size() >= (std::size_t{1} << 16)) {
        if (!json.buffer.empty() &&
            std::fwrite(json.buffer.data(), 1, json.buffer.size(), json.out) != json.buffer.size())
            json.failed = true;
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

void JsonBegin(JsonWriter& json, std::string_view export_name, const std::vector<std::string>& strings) {
    std::string& out = json.buffer;
    out.append("{\"type\":\"begin\",\"data\":{\"export\":");
    AppendJsonText(out, export_name);
    out.append(",\"strings\":[");
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (i) out.push_back(',');
        AppendJsonText(out, std::string_view(strings[i]).substr(0, kMaxSearchString));  // as the search uses it
    }
    out.append("]}}\n");
    Emit(json, false);
}

void JsonWriter::OnHit(const Hit& hit) {
    struct Field {
        const char* name;
        const std::string ScanContext::*value;
    };
    static constexpr std::array<Field, 10> kContext = {{
        {"library", &ScanContext::current_library},
        {"form", &ScanContext::current_form},
        {"global", &ScanContext::current_global},
        {"entry", &ScanContext::current_entryname},
        {"menubar", &ScanContext::current_menubar},
        {"glyph", &ScanContext::current_glyph},
        {"sourcetype", &ScanContext::current_sourcetype},
        {"model", &ScanContext::current_model},
        {"table", &ScanContext::current_table},
        {"field", &ScanContext::current_field},
    }};
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
    for (const Field& f : kContext) {
        const std::string& value = hit.context.*f.value;
        if (value.empty()) continue;
        if (!first) out.push_back(',');
        first = false;
        out.push_back('"');
        out.append(f.name);
        out.append("\":");
        AppendLogText(out, value, scratch);
    }
    out.append("},\"data\":");
    AppendLogText(out, hit.data, scratch);
    out.append(",\"strings\":[");
    for (std::size_t i = 0; i < hit.strings.size(); ++i) {
        if (i) out.push_back(',');
        const SearchString* s = hit.strings[i];
        AppendJsonText(out, std::string_view(s->allocated_string, static_cast<std::size_t>(s->string_length - 1)));
    }
    out.append("]}}\n");
    Emit(*this, false);
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
