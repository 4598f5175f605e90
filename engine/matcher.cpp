// The multi-string matcher.
#include "matcher.h"

#include <algorithm>
#include <limits>

#include "search.h"

namespace {

std::string_view Text(const SearchString* s) {
    return std::string_view(s->allocated_string, static_cast<std::size_t>(s->string_length - 1));
}

std::uint32_t PairKey(unsigned char a, unsigned char b) { return (std::uint32_t{a} << 8) | b; }

bool EqualFolded(const unsigned char* text, std::string_view needle) {
    for (std::size_t j = 0; j < needle.size(); ++j)
        if (kFold[text[j]] != static_cast<unsigned char>(needle[j])) return false;
    return true;
}

// Calls found(needle index, start) for every occurrence of a needle starting
// at or after `from`, until it returns true.
template <class Found>
void Scan(const Matcher& m, std::string_view text, std::size_t from, Found found) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const std::size_t w = m.window;
    if (m.needles.empty() || n < w || from > n - w) return;
    auto candidates = [&](std::uint32_t key, std::size_t start) {
        for (std::uint32_t b = m.bucket_start[key]; b < m.bucket_start[key + 1]; ++b) {
            std::uint32_t index = m.bucket[b];
            std::string_view needle = Text(m.needles[index]);
            if (needle.size() <= n - start && EqualFolded(p + start, needle) && found(index, start))
                return true;
        }
        return false;
    };
    if (w == 1) {
        for (std::size_t i = from; i < n; ++i)
            if (m.bucket_start[kFold[p[i]]] != m.bucket_start[kFold[p[i]] + 1] &&
                candidates(kFold[p[i]], i))
                return;
        return;
    }
    const std::uint16_t* shift = m.shift.data();
    for (std::size_t end = from + w - 1; end < n;) {
        std::uint32_t key = PairKey(kFold[p[end - 1]], kFold[p[end]]);
        std::uint16_t s = shift[key];
        if (s) {
            end += s;
            continue;
        }
        if (candidates(key, end + 1 - w)) return;
        ++end;
    }
}

}  // namespace

void BuildMatcher(Matcher& m, SearchString* head) {
    m = Matcher{};
    for (SearchString* s = head; s; s = s->next_string) {
        std::string_view text = Text(s);
        // Lines are compared upper-cased and hold no line feed, so a string
        // with a to z or a line feed in it never matches.
        if (std::any_of(text.begin(), text.end(),
                        [](char c) { return (c >= 'a' && c <= 'z') || c == '\n'; }))
            continue;
        (text.empty() ? m.empties : m.needles).push_back(s);
    }
    m.seen.assign(m.needles.size(), 0);
    if (m.needles.empty()) return;
    m.window = std::numeric_limits<std::size_t>::max();
    for (SearchString* s : m.needles) m.window = std::min(m.window, Text(s).size());
    const std::size_t w = m.window;

    auto key_of = [&](std::string_view text) {
        return w == 1 ? std::uint32_t{static_cast<unsigned char>(text[0])}
                      : PairKey(text[w - 2], text[w - 1]);
    };
    m.bucket_start.assign(65537, 0);
    for (SearchString* s : m.needles) ++m.bucket_start[key_of(Text(s)) + 1];
    for (std::size_t i = 1; i < m.bucket_start.size(); ++i) m.bucket_start[i] += m.bucket_start[i - 1];
    m.bucket.resize(m.bucket_start.back());
    std::vector<std::uint32_t> fill(m.bucket_start.begin(), m.bucket_start.end() - 1);
    for (std::uint32_t i = 0; i < m.needles.size(); ++i) m.bucket[fill[key_of(Text(m.needles[i]))]++] = i;

    if (w >= 2) {
        std::uint16_t most = static_cast<std::uint16_t>(std::min<std::size_t>(w - 1, 65535));
        m.shift.assign(65536, most);
        for (SearchString* s : m.needles) {
            std::string_view text = Text(s);
            for (std::size_t q = 0; q + 1 < w; ++q) {
                std::uint16_t& entry = m.shift[PairKey(text[q], text[q + 1])];
                entry = std::min<std::uint16_t>(entry, static_cast<std::uint16_t>(w - 2 - q));
            }
        }
    }
}

int MatchLine(Matcher& m, std::string_view line) {
    int matches = 0;
    for (SearchString* s : m.empties) {
        ++s->matching_lines;
        ++matches;
    }
    const std::uint64_t serial = ++m.line_serial;
    Scan(m, line, 0, [&](std::uint32_t index, std::size_t) {
        if (m.seen[index] != serial) {  // a line counts once per string
            m.seen[index] = serial;
            ++m.needles[index]->matching_lines;
            ++matches;
        }
        return false;
    });
    return matches;
}

std::size_t FindAny(const Matcher& m, std::string_view text, std::size_t from) {
    std::size_t at = std::string_view::npos;
    Scan(m, text, from, [&](std::uint32_t, std::size_t start) {
        at = start;
        return true;
    });
    return at;
}
