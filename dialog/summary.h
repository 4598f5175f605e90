// The result summary of a completed search, with buttons that open the page
// of hits in the default browser or the log, and one that closes.
#pragma once

#include <windows.h>

#include <string>

struct WrittenPage;

// Shows the summary's text, owned by `owner`, with where the page stands (or
// why there is none), until the user closes it or the file chosen opens.
void ShowSummary(HWND owner, const std::wstring& text, const WrittenPage& page);
