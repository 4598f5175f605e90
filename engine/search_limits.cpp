// The limits of --in and --not-in: parsed once, tested at each hit.
#include "search_limits.h"

#include "bytes.h"

namespace {

const std::string& ValueOf(const ScanContext& c, std::size_t field) { return c.*kContextFields[field].value; }

bool AnyMatches(const FieldLimit& limit, const ScanContext& c) {
    const std::string& value = ValueOf(c, limit.field);
    if (value.empty()) return false;  // a field not set is in no form, so "form=*" means some form
    for (const std::string& pattern : limit.patterns)
        if (PatternMatches(pattern, value)) return true;
    return false;
}

// Field names as the patterns compare names: blind to the case of a to z.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

// The bytes of the character at text[at]: a well-formed UTF-8 sequence, else
// one byte (a name in a single-byte code page), so that "?" stands for one
// character either way.
std::size_t CharLength(std::string_view text, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
    const std::size_t n = p[0] >= 0xC2 && p[0] <= 0xDF ? 2 : p[0] >= 0xE0 && p[0] <= 0xEF ? 3 : p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : 1;
    if (n == 1 || text.size() - at < n) return 1;
    // The second byte's range rules out overlong forms, surrogates and
    // code points beyond U+10FFFF.
    const unsigned char low = p[0] == 0xE0 ? 0xA0 : p[0] == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = p[0] == 0xED ? 0x9F : p[0] == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < low || p[1] > high) return 1;
    for (std::size_t k = 2; k < n; ++k)
        if ((p[k] & 0xC0) != 0x80) return 1;
    return n;
}

}  // namespace

std::string_view LimitFieldName(std::size_t field) { return kContextFields[field].key; }

std::string LimitFieldNames() {
    std::string names;
    for (std::size_t f = 0; f < kLimitFields; ++f) {
        if (f) names += ", ";
        names += LimitFieldName(f);
    }
    return names;
}

bool AddLimit(Limits& limits, std::string_view text, bool in, std::string& error) {
    const std::size_t eq = text.find('=');
    const std::string_view name = text.substr(0, eq);
    std::string given = "'";
    given.append(text);
    given.push_back('\'');
    std::size_t field = kLimitFields;
    for (std::size_t f = 0; f < kLimitFields; ++f)
        if (SameName(LimitFieldName(f), name)) field = f;
    if (eq == std::string_view::npos || field == kLimitFields) {
        error = given + " names no field: give FIELD=PATTERN with FIELD one of " + LimitFieldNames();
        return false;
    }
    // Commas separate the patterns, but for one written \, (kept escaped:
    // the matcher reads the escapes).
    std::vector<std::string> patterns;
    std::string_view rest = text.substr(eq + 1);
    for (;;) {
        std::size_t end = 0;
        while (end < rest.size() && rest[end] != ',') end += rest[end] == '\\' ? 2 : 1;
        if (end > rest.size()) {
            error = given + " ends in a lone \\: write \\\\ for a backslash";
            return false;
        }
        const std::string_view pattern = rest.substr(0, end);
        if (pattern.empty()) {
            error = given + " holds an empty pattern: give names, with * and ?, between the commas";
            return false;
        }
        std::string upper(pattern.size(), ' ');
        FoldInto(upper.data(), pattern);
        patterns.push_back(std::move(upper));
        if (end == rest.size()) break;
        rest.remove_prefix(end + 1);
    }
    std::vector<FieldLimit>& list = in ? limits.in : limits.not_in;
    for (FieldLimit& limit : list) {
        if (limit.field != field) continue;
        limit.patterns.insert(limit.patterns.end(), patterns.begin(), patterns.end());
        return true;
    }
    list.push_back({field, std::move(patterns)});
    return true;
}

bool PatternMatches(std::string_view pattern, std::string_view text) {
    // The usual way: on a mismatch after a "*", the "*" takes one character
    // more. "*" and "?" are looked at before any byte is compared, so that a
    // wildcard stays one opposite a "*" or "?" of the name.
    std::size_t p = 0, t = 0, star = std::string_view::npos, star_t = 0;
    while (t < text.size()) {
        const char c = p < pattern.size() ? pattern[p] : '\0';
        const bool escaped = c == '\\' && p + 1 < pattern.size();
        const char literal = escaped ? pattern[p + 1] : c;
        if (p < pattern.size() && c == '*') {
            star = ++p;
            star_t = t;
        } else if (p < pattern.size() && c == '?') {
            ++p;
            t += CharLength(text, t);
        } else if (p < pattern.size() && static_cast<unsigned char>(literal) == Fold(text[t])) {
            p += escaped ? 2 : 1;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star;
            star_t += CharLength(text, star_t);
            t = star_t;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool WithinLimits(const Limits& limits, const ScanContext& context) {
    for (const FieldLimit& limit : limits.in)
        if (!AnyMatches(limit, context)) return false;
    for (const FieldLimit& limit : limits.not_in)
        if (AnyMatches(limit, context)) return false;
    return true;
}

bool WithinLimits(const Limits& limits, const ScanContext& context, LimitsMemo& memo) {
    const std::size_t n = limits.in.size() + limits.not_in.size();
    if (memo.values.size() != n) {
        memo.values.assign(n, std::string());
        memo.valid = false;
    }
    bool same = memo.valid;
    for (std::size_t k = 0; k < n; ++k) {
        const FieldLimit& limit = k < limits.in.size() ? limits.in[k] : limits.not_in[k - limits.in.size()];
        const std::string& value = ValueOf(context, limit.field);
        if (memo.values[k] != value) {
            memo.values[k] = value;
            same = false;
        }
    }
    if (!same) {
        memo.within = WithinLimits(limits, context);
        memo.valid = true;
    }
    return memo.within;
}

std::string DescribeLimits(const Limits& limits) {
    std::string out;
    auto describe = [&](const std::vector<FieldLimit>& list, const char* is) {
        for (const FieldLimit& limit : list) {
            out += "only where ";
            out += LimitFieldName(limit.field);
            out += is;
            for (std::size_t i = 0; i < limit.patterns.size(); ++i) {
                if (i) out += i + 1 == limit.patterns.size() ? " or " : ", ";
                out += limit.patterns[i];
            }
            out += "\n";
        }
    };
    describe(limits.in, " is ");
    describe(limits.not_in, " is not ");
    return out;
}
