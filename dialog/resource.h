/* Identifiers of the search dialog, read by the resource compiler and by C++. */
#define SEARCH_DIALOG 100
#define SRCH_STRINGS_LABEL 101
#define SRCH_STRINGS 102
#define SRCHFILENAME_LABEL 103
#define BROWSE_BUTTON 104
#define SRCHFILENAME 105
#define PROGRESS_TEXT 106
#define PROGRESS_BAR 107
#define TIME_LEFT 109
/* The buttons of the result summary. */
#define SHOW_PAGE_BUTTON 110
#define OPEN_LOG_BUTTON 111
