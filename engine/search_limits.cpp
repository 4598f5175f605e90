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

bool AddLimit(Limits& limits, std::string_view spec, bool in, std::string& error) {
    const std::size_t eq = spec.find('=');
    const std::string_view name = spec.substr(0, eq);
    std::size_t field = kLimitFields;
    for (std::size_t f = 0; f < kLimitFields; ++f)
        if (LimitFieldName(f) == name) field = f;
    if (eq == std::string_view::npos || field == kLimitFields) {
        error = "'" + std::string(spec) + "' names no field: give FIELD=PATTERN with FIELD one of " + LimitFieldNames();
        return false;
    }
    std::vector<std::string> patterns;
    std::string_view rest = spec.substr(eq + 1);
    for (;;) {
        const std::size_t comma = rest.find(',');
        const std::string_view pattern = rest.substr(0, comma);
        if (pattern.empty()) {
            error = "'" + std::string(spec) + "' holds an empty pattern: give names, with * and ?, between the commas";
            return false;
        }
        std::string upper(pattern.size(), ' ');
        FoldInto(upper.data(), pattern);
        patterns.push_back(std::move(upper));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
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
    // The usual way: on a mismatch after a "*", the "*" takes one byte more.
    std::size_t p = 0, t = 0, star = std::string_view::npos, star_t = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || static_cast<unsigned char>(pattern[p]) == Fold(text[t]))) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            star_t = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++star_t;
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
