// Where to look: a hit counts only where the context's fields (or the
// element's name) match the patterns given with --in, and none given with
// --not-in. A hit outside is no hit at all: not counted, logged or reported.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "context.h"

// The fields a limit may name: those a log line shows, by their JSON keys
// ("element" for the element's name).
inline constexpr std::size_t kLimitFields = kShownContextFields;
std::string_view LimitFieldName(std::size_t field);
// The names, as a message lists them: "library, form, ..., element".
std::string LimitFieldNames();

struct FieldLimit {
    std::size_t field = 0;
    std::vector<std::string> patterns;  // upper case, escapes as written; any of them matches
};

struct Limits {
    std::vector<FieldLimit> in;      // every field must match one of its patterns
    std::vector<FieldLimit> not_in;  // no field may match any of its patterns
    bool Empty() const { return in.empty() && not_in.empty(); }
};

// Adds "FIELD=PATTERN[,PATTERN]..." to the limits (`in` or not): FIELD in
// any case, "\," a comma within a pattern; patterns for a field given before
// are added to its own. False, with a message in `error`, for an unknown
// field, a missing "=", an empty pattern or one that ends in a lone "\".
bool AddLimit(Limits& limits, std::string_view text, bool in, std::string& error);

// Whether `text` matches `pattern`: "*" stands for any characters, "?" for
// one (a UTF-8 character, or else a byte), "\" makes the character after it
// stand for itself ("\*", "\?", "\,", "\\"); letters a to z compare as upper
// case.
bool PatternMatches(std::string_view pattern, std::string_view text);

// Whether a hit where the context stands counts.
bool WithinLimits(const Limits& limits, const ScanContext& context);

// The last answer and the values it was given for: hits come in runs under
// one context, and a long name against a long pattern costs, so patterns
// are matched again only where a value changed.
struct LimitsMemo {
    std::vector<std::string> values;  // of each limit's field, in and then not in
    bool within = false;
    bool valid = false;
};
bool WithinLimits(const Limits& limits, const ScanContext& context, LimitsMemo& memo);

// The limits as the log's header says them, a line each ("only where
// element is UCODE or USOURCE"), each pattern as written (its escapes kept,
// so that "A\,B" is one), each ended by a line feed; "" for none.
std::string DescribeLimits(const Limits& limits);
