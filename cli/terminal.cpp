// Progress lines and boxes on the terminal.
#include "terminal.h"

void ProgressLine::Draw(const std::string& text) {
    std::string out = "\r" + text;
    if (text.size() < drawn) out += std::string(drawn - text.size(), ' ');
    drawn = text.size();
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
    const bool written = text.empty() || std::fwrite(text.data(), 1, text.size(), to) == text.size();
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
        std::string out = "reposearch: ";
        out.append(prefix);
        if (first) out += box.caption + ": ";
        out.append(line);
        out.push_back('\n');
        std::fputs(out.c_str(), stderr);
        first = false;
    }
}
