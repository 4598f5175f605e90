// Progress lines and boxes on the terminal.
#include "terminal.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define close _close
#define fdopen _fdopen
#define read _read
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

namespace {

// The control of text direction whose UTF-8 bytes start at text[at], with
// their `length`; 0 for none.
unsigned DirectionControl(std::string_view text, std::size_t at, std::size_t& length) {
    const auto byte = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned c = byte(at), next = byte(at + 1), last = byte(at + 2);
    length = 3;
    if (c == 0xD8 && next == 0x9C) {
        length = 2;
        return 0x061C;
    }
    if (c == 0xE2 && next == 0x80 && (last == 0x8E || last == 0x8F || (last >= 0xAA && last <= 0xAE)))
        return 0x2000 | (last & 0x3F);
    if (c == 0xE2 && next == 0x81 && last >= 0xA6 && last <= 0xA9) return 0x2040 | (last & 0x3F);
    return 0;
}

}  // namespace

std::size_t AppendShown(std::string& out, std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned c = byte(at);
    std::size_t length = 0;
    if (const unsigned code = DirectionControl(text, at, length)) {
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

std::string JsonShown(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    for (std::size_t at = 0; at < json.size();) {
        std::size_t length = 0;
        unsigned code = DirectionControl(json, at, length);
        const auto next = at + 1 < json.size() ? static_cast<unsigned char>(json[at + 1]) : 0u;
        if (!code && static_cast<unsigned char>(json[at]) == 0xC2 && next >= 0x80 && next <= 0x9F) {
            code = next;  // a C1 control
            length = 2;
        }
        if (code) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", code);
            out.append(escape);
            at += length;
        } else {
            out.push_back(json[at++]);
        }
    }
    return out;
}

namespace {

// How much of what came may be shown now: not a CR whose LF may follow, nor
// the first bytes of a character whose others have not come.
std::size_t WholeUpTo(std::string_view held) {
    std::size_t k = held.size();
    while (k > 0 && held.size() - k < 3 && (static_cast<unsigned char>(held[k - 1]) & 0xC0) == 0x80) --k;
    if (k > 0) {
        const auto lead = static_cast<unsigned char>(held[k - 1]);
        const std::size_t bytes = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (bytes > held.size() - (k - 1)) return k - 1;
    }
    return !held.empty() && held.back() == '\r' ? held.size() - 1 : held.size();
}

void Show(ShownStream& s) {
    std::string held, out;
    char block[1 << 16];
    for (bool end = false; !end;) {
        const auto n = read(s.out_fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        end = n <= 0;
        if (!end) held.append(block, static_cast<std::size_t>(n));
        const std::size_t ready = end ? held.size() : WholeUpTo(held);
        const std::string_view text(held.data(), ready);
        out.clear();
        for (std::size_t at = 0; at < ready;) {
            if (text[at] == '\n' || text.substr(at, 2) == "\r\n") {
                const std::size_t length = text[at] == '\n' ? 1 : 2;
                out.append(text.substr(at, length));
                at += length;
            } else {
                at = AppendShown(out, text, at);
            }
        }
        held.erase(0, ready);
        if (!out.empty() && (std::fwrite(out.data(), 1, out.size(), s.to) != out.size() || std::fflush(s.to) != 0))
            s.ok = false;
    }
    close(s.out_fd);
}

}  // namespace

bool StartShownStream(ShownStream& s, std::FILE* to) {
    int fds[2];
#ifdef _WIN32
    if (_pipe(fds, 1 << 16, _O_BINARY) != 0) return false;
#else
    if (pipe(fds) != 0) return false;
#endif
    s.to = to;
    s.out_fd = fds[0];
    s.in = fdopen(fds[1], "wb");
    if (s.in) {
        try {
            s.shower = std::thread([&s] { Show(s); });
            return true;
        } catch (const std::system_error&) {
            std::fclose(s.in);
            s.in = nullptr;
        }
    } else {
        close(fds[1]);
    }
    close(fds[0]);
    return false;
}

bool EndShownStream(ShownStream& s) {
    if (!s.in) return true;
    const bool closed = std::fclose(s.in) == 0;
    s.in = nullptr;
    s.shower.join();
    return closed && s.ok;
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
    const std::string pct = std::to_string(percent);
    std::string bar(1, '[');
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');
    bar.append("] ");
    bar.append(3 - (pct.size() < 3 ? pct.size() : 3), ' ');
    bar.append(pct);
    bar.append("%  ");
    return bar;
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
