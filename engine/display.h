// The display operations a search run needs from whatever shows it (the dialog,
// the terminal, a test). The run calls nothing else on its front end.
#pragma once

#include <string_view>

struct Display {
    virtual ~Display() = default;
    virtual void SetProgressRange(int low, int high) = 0;  // PROGRESS_BAR range
    virtual void SetProgressPos(int percent) = 0;           // PROGRESS_BAR position
    virtual void SetProgressText(std::string_view text) = 0;  // PROGRESS_TEXT
    virtual void SetTimeLeft(std::string_view text) = 0;      // TIME_LEFT
    // A modal box with a single OK button; the run goes on once it is closed.
    virtual void ShowMessageBox(std::string_view text, std::string_view caption) = 0;
};
