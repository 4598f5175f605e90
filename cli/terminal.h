// What the command line shows on the terminal: the progress of a search on
// one line of standard error, and the boxes a run shows, printed once it is
// over.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../engine/display.h"

struct Box {
    std::string text, caption;
};

// Draws and erases one progress line on standard error.
struct ProgressLine {
    std::size_t drawn = 0;  // its width on screen
    void Draw(const std::string& text);
    void Erase();
};

// A bar of 30 places and the percentage beside it, as the line starts.
std::string ProgressBar(int percent);

// Shows one search: its progress as it goes, its boxes kept for later.
struct TerminalDisplay final : Display {
    bool show_progress = false;
    bool has_range = false;  // a size is known: a bar and a percentage
    int percent = 0;
    std::string progress_text, time_left;
    ProgressLine line;
    std::vector<Box> boxes;

    void SetProgressRange(int, int) override { has_range = true; }
    void SetProgressText(std::string_view text) override;
    void SetTimeLeft(std::string_view text) override { time_left = text; }
    void SetProgressPos(int pos) override;
    void ShowMessageBox(std::string_view text, std::string_view caption) override {
        boxes.push_back({std::string(text), std::string(caption)});
    }
    void Draw();
};

// Whether the stream goes to a terminal.
bool IsTerminal(std::FILE* f);

// Appends the character at text[at] as a terminal is shown it, and returns
// where the next one starts: control bytes as ^X (a tab as it is), the C1
// controls (U+0080 to U+009F, or such a byte standing alone) as M-^X, as
// cat -v shows them, and the controls of text direction (U+061C, U+200E,
// U+200F, U+202A to U+202E, U+2066 to U+2069) as <U+202E>, as the page shows
// them as marks: nothing in an export drives the terminal or turns round
// the line it is shown on.
std::size_t AppendShown(std::string& out, std::string_view text, std::size_t at);

// The text as it may go to `to`: on a terminal, shown as AppendShown shows
// it, line feeds kept; elsewhere as it is.
std::string ShownOn(std::FILE* to, std::string_view text);

// JSON Lines as they may go to a terminal: the C1 controls and the controls
// of text direction, which only strings hold, escaped as \u009b or \u202e
// (the same JSON; the C0 controls are escaped already).
std::string JsonShown(std::string_view json);

// Writes all of `text` (as ShownOn gives it) and flushes. False when it did
// not get through.
bool WriteAll(std::FILE* to, std::string_view text);

// The log on a terminal: the search writes it as it is into a pipe, and a
// thread shows what comes out as ShownOn does, its line ends kept.
struct ShownStream {
    std::FILE* in = nullptr;  // what the search writes to
    std::FILE* to = nullptr;  // the terminal
    int out_fd = -1;          // the pipe's other end
    std::thread shower;
    bool ok = true;  // all of it reached the terminal
};

// Starts one in front of `to`. False when no pipe or thread can be had.
bool StartShownStream(ShownStream& s, std::FILE* to);

// Ends what is written and waits until all of it is shown. False when some
// of it did not get through.
bool EndShownStream(ShownStream& s);

// Writes "reposearch: " and the message on a line of standard error.
void Tell(std::string_view message);

// A box that tells of a failure, on standard error: each line as
// "reposearch: " `prefix` the line, the first with the box's caption.
void PrintFailure(const Box& box, std::string_view prefix);
