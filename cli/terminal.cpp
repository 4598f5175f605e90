// Progress lines and boxes on the terminal.
#include "terminal.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

bool IsTerminal(std::FILE* f) {
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}

std::size_t AppendShown(std::string& out, std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned c = byte(at);
    // A control of text direction, by its bytes in UTF-8.
    unsigned code = 0;
    std::size_t length = 3;
    if (c == 0xD8 && byte(at + 1) == 0x9C) {
        code = 0x061C;
        length = 2;
    } else if (c == 0xE2 && byte(at + 1) == 0x80) {
        const unsigned last = byte(at + 2);
        if (last == 0x8E || last == 0x8F || (last >= 0xAA && last <= 0xAE)) code = 0x2000 | (last & 0x3F);
    } else if (c == 0xE2 && byte(at + 1) == 0x81 && byte(at + 2) >= 0xA6 && byte(at + 2) <= 0xA9) {
        code = 0x2040 | (byte(at + 2) & 0x3F);
    }
    if (code) {
        char mark[16];
        std::snprintf(mark, sizeof mark, "<U+%04X>", code);
        out.append(mark);
        return at + length;
    }
    unsigned c1 = 0;  // a C1 control, by its byte
    if (c == 0xC2 && byte(at + 1) >= 0x80 && byte(at + 1) <= 0x9F) {
        c1 = byte(++at);
    } else if (c >= 0x80 && c <= 0x9F && (at == 0 || byte(at - 1) < 0x80)) {
        c1 = c;
    }
    if (c1) {
        out.append("M-^");
        out.push_back(static_cast<char>(c1 - 0x80 + '@'));
    } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
        out.push_back('^');
        out.push_back(static_cast<char>(c == 0x7F ? '?' : c + '@'));
    } else {
        out.push_back(text[at]);
    }
    return at + 1;
}

std::string ShownOn(std::FILE* to, std::string_view text) {
    if (!IsTerminal(to)) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == '\n') {
            out.push_back('\n');
            ++at;
        } else {
            at = AppendShown(out, text, at);
        }
    }
    return out;
}

void Tell(std::string_view message) {
    std::string line = "reposearch: ";
    line.append(message);
    line.push_back('\n');
    const std::string shown = ShownOn(stderr, line);
    std::fwrite(shown.data(), 1, shown.size(), stderr);
    std::fflush(stderr);
}

void ProgressLine::Draw(const std::string& text) {
    const std::string shown = ShownOn(stderr, text);
    std::string out = "\r" + shown;
    if (shown.size() < drawn) out += std::string(drawn - shown.size(), ' ');
    drawn = shown.size();
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
}

void ProgressLine::Erase() {
    if (!drawn) return;
    std::fprintf(stderr, "\r%s\r", std::string(drawn, ' ').c_str());
    std::fflush(stderr);
    drawn = 0;
}

std::string ProgressBar(int percent) {
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string pct = std::to_string(percent);
    return "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] " +
           std::string(3 - (pct.size() < 3 ? pct.size() : 3), ' ') + pct + "%  ";
}

void TerminalDisplay::SetProgressText(std::string_view text) {
    progress_text = text;
    if (show_progress && !has_range) Draw();  // lines processed, nothing more
}

void TerminalDisplay::SetProgressPos(int pos) {
    percent = pos;
    if (show_progress) Draw();
}

void TerminalDisplay::Draw() {
    std::string text = has_range ? ProgressBar(percent) : "";
    text += progress_text;
    if (!time_left.empty()) text += "  " + time_left;
    line.Draw(text);
}

bool WriteAll(std::FILE* to, std::string_view text) {
    const std::string shown = ShownOn(to, text);
    const bool written = shown.empty() || std::fwrite(shown.data(), 1, shown.size(), to) == shown.size();
    return std::fflush(to) == 0 && written && !std::ferror(to);
}

void PrintFailure(const Box& box, std::string_view prefix) {
    std::string_view text = box.text;
    bool first = true;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view{} : text.substr(lf + 1);
        if (line.empty()) continue;
        std::string out(prefix);
        if (first) out += box.caption + ": ";
        out.append(line);
        Tell(out);
        first = false;
    }
}
