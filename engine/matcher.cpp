// The multi-string matcher.
#include "matcher.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "cpu.h"

namespace {

// Buckets are found by a 12-bit hash of a folded byte pair; needles that
// share a bucket are told apart when compared.
constexpr std::uint32_t kBuckets = 1 << 12;
std::uint32_t PairKey(unsigned char a, unsigned char b) { return ((std::uint32_t{a} << 4) ^ b) & (kBuckets - 1); }

// The key of the shift table: the two bytes as if bit 0x20 were set (so a
// letter's two cases meet), seven bits each.
inline std::uint32_t Squeeze(unsigned char c) { return ((c >> 1) & 0x60u) | (c & 0x1Fu); }
inline std::uint32_t ShiftKey(unsigned char a, unsigned char b) { return Squeeze(a) << 7 | Squeeze(b); }
inline std::uint32_t ShiftKey(unsigned char a, unsigned char b, unsigned char c) {
    return ((Squeeze(a) << 10) ^ (Squeeze(b) << 5) ^ Squeeze(c)) & 0xFFFF;
}

// Rough frequency of a byte in exports (source code and descriptions), for
// picking a needle's rarest bytes. Only the order matters.
int Frequency(unsigned char c) {
    static const char kByRank[] = "ETAOINSRLCDU_MPH.FGB,Y;=()W\"VK'<>/X:JQZ";
    if (c == ' ') return 1000;
    if (c >= '0' && c <= '9') return 300;
    for (int i = 0; kByRank[i]; ++i)
        if (kByRank[i] == c) return 900 - 20 * i;
    return 50;
}

// Needles this many or fewer are looked for by their probes; up to
// kMaxFingerprinted, by their first three bytes where the processor can.
constexpr std::size_t kMaxProbes = 4;
constexpr std::size_t kMaxFingerprinted = 32;


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
    if (m.needle_text.empty() || n < w || from > n - w) return;
    auto candidates = [&](std::uint32_t key, std::size_t start) {
        for (std::uint32_t b = m.bucket_start[key]; b < m.bucket_start[key + 1]; ++b) {
            std::uint32_t index = m.bucket[b];
            std::string_view needle = std::string_view(m.needle_text[index]);
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
    const std::uint8_t* shift = m.shift.data();
    if (w == 2) {
        for (std::size_t end = from + 1; end < n;) {
            if (std::uint8_t s = shift[ShiftKey(p[end - 1], p[end])]) {
                end += s;
                continue;
            }
            if (candidates(PairKey(kFold[p[end - 1]], kFold[p[end]]), end - 1)) return;
            ++end;
        }
        return;
    }
    for (std::size_t end = from + w - 1; end < n;) {
        if (std::uint8_t s = shift[ShiftKey(p[end - 2], p[end - 1], p[end])]) {
            end += s;
            continue;
        }
        if (candidates(PairKey(kFold[p[end - 1]], kFold[p[end]]), end + 1 - w)) return;
        ++end;
    }
}

}  // namespace

void BuildMatcher(Matcher& m, const std::vector<std::string>& strings, bool word) {
    m = Matcher{};
    m.word = word;
    for (std::uint32_t order = 0; order < strings.size(); ++order) {
        const std::string& text = strings[order];
        // Lines are compared upper-cased and hold no line feed, so a string
        // with a to z or a line feed in it never matches.
        if (std::any_of(text.begin(), text.end(), [](char c) { return (c >= 'a' && c <= 'z') || c == '\n'; }))
            continue;
        if (text.empty()) {
            m.empties.push_back(order);
        } else {
            m.needle_text.push_back(text);
            m.needle_order.push_back(order);
        }
    }
    if (m.needle_text.empty()) return;
    m.window = std::numeric_limits<std::size_t>::max();
    for (const std::string& text : m.needle_text) m.window = std::min(m.window, text.size());
    const std::size_t w = m.window;

    auto key_of = [&](std::string_view text) {
        return w == 1 ? std::uint32_t{static_cast<unsigned char>(text[0])}
                      : PairKey(text[w - 2], text[w - 1]);
    };
    m.bucket_start.assign(kBuckets + 1, 0);
    for (const std::string& text : m.needle_text) ++m.bucket_start[key_of(text) + 1];
    for (std::size_t i = 1; i < m.bucket_start.size(); ++i) m.bucket_start[i] += m.bucket_start[i - 1];
    m.bucket.resize(m.bucket_start.back());
    std::vector<std::uint32_t> fill(m.bucket_start.begin(), m.bucket_start.end() - 1);
    for (std::uint32_t i = 0; i < m.needle_text.size(); ++i) m.bucket[fill[key_of(m.needle_text[i])]++] = i;

    if (w == 2) {
        m.shift.assign(1 << 14, 1);
        for (const std::string& text : m.needle_text) m.shift[ShiftKey(text[0], text[1])] = 0;
    } else if (w >= 3) {
        m.shift.assign(1 << 16, static_cast<std::uint8_t>(std::min<std::size_t>(w - 2, 255)));
        for (const std::string& text : m.needle_text) {
            for (std::size_t q = w > 257 ? w - 257 : 0; q + 2 < w; ++q) {
                std::uint8_t& entry = m.shift[ShiftKey(text[q], text[q + 1], text[q + 2])];
                entry = std::min<std::uint8_t>(entry, static_cast<std::uint8_t>(w - 3 - q));
            }
        }
    }
    if (m.needle_text.size() > kMaxProbes && m.needle_text.size() <= kMaxFingerprinted && HasSsse3()) {
        m.fingerprint_width = HasAvx2() ? 32 : 16;
        for (std::uint32_t i = 0; i < m.needle_text.size(); ++i) m.groups[i % m.groups.size()].push_back(i);
    }
    TuneMatcher(m, {});
}

namespace {

void SetFingerprints(Matcher& m, std::size_t offset) {
    m.fingerprint_offset = offset;
    m.low_nibble = {};
    m.high_nibble = {};
    for (std::size_t group = 0; group < m.groups.size(); ++group)
        for (std::uint32_t index : m.groups[group])
            for (std::size_t k = 0; k < 3; ++k) {
                const std::string_view text = std::string_view(m.needle_text[index]);
                const auto bit = static_cast<unsigned char>(1u << group);
                if (offset + k >= text.size()) {  // a short needle: any byte fits there
                    for (int nibble = 0; nibble < 16; ++nibble) {
                        m.low_nibble[k][nibble] |= bit;
                        m.high_nibble[k][nibble] |= bit;
                    }
                    continue;
                }
                const unsigned char c = static_cast<unsigned char>(text[offset + k]) | 0x20;
                m.low_nibble[k][c & 15] |= bit;
                m.high_nibble[k][c >> 4] |= bit;
            }
}

// How many places of the sample fit some group's fingerprint.
std::size_t FingerprintFits(const Matcher& m, std::string_view sample) {
    const auto* p = reinterpret_cast<const unsigned char*>(sample.data());
    std::size_t fits = 0;
    for (std::size_t x = 0; x + 3 <= sample.size(); ++x) {
        unsigned fit = 0xFF;
        for (std::size_t k = 0; k < 3; ++k) {
            const unsigned char c = p[x + k] | 0x20;
            fit &= m.low_nibble[k][c & 15] & m.high_nibble[k][c >> 4];
        }
        fits += fit != 0;
    }
    return fits;
}

}  // namespace

void TuneMatcher(Matcher& m, std::string_view sample) {
    if (m.fingerprint_width) {
        // The offset whose fingerprints fit the fewest places of the sample;
        // the needles' starts without one.
        std::size_t best = 0, best_fits = ~std::size_t{0};
        for (std::size_t offset = 0; offset + 3 <= m.window && offset < 8 && !sample.empty(); ++offset) {
            SetFingerprints(m, offset);
            std::size_t fits = FingerprintFits(m, sample);
            if (fits < best_fits) best = offset, best_fits = fits;
        }
        SetFingerprints(m, best);
    }
    m.probes.clear();
    m.probe_reach = 0;
    if (m.needle_text.empty() || m.needle_text.size() > kMaxProbes) return;
    m.probes_wide = HasAvx2();
    // Counts by byte with bit 0x20 set; a small sample, or none, leaves the
    // rough frequencies of source text to decide.
    std::array<std::uint64_t, 256> counts{};
    for (unsigned char c : sample) ++counts[c | 0x20];
    const bool sampled = sample.size() >= 4096;
    auto frequency = [&](char c) {
        unsigned char b = static_cast<unsigned char>(c);
        return sampled ? counts[b | 0x20] : static_cast<std::uint64_t>(Frequency(b));
    };
    for (std::uint32_t i = 0; i < m.needle_text.size(); ++i) {
        std::string_view text = std::string_view(m.needle_text[i]);
        std::size_t first = 0;
        for (std::size_t k = 1; k < text.size(); ++k)
            if (frequency(text[k]) < frequency(text[first])) first = k;
        // The second: the rarest other byte, a different one where there is.
        std::size_t second = first;
        auto differs = [&](std::size_t k) { return (text[k] | 0x20) != (text[first] | 0x20); };
        for (std::size_t k = 0; k < text.size(); ++k) {
            if (k == first) continue;
            if (second == first || (differs(k) && !differs(second)) ||
                (differs(k) == differs(second) && frequency(text[k]) < frequency(text[second])))
                second = k;
        }
        m.probes.push_back({i, static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(second),
                            static_cast<unsigned char>(text[first] | 0x20),
                            static_cast<unsigned char>(text[second] | 0x20)});
        m.probe_reach = std::max({m.probe_reach, first, second});
    }
}

namespace {

bool IsWordByte(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

}  // namespace

bool WholeWord(std::string_view line, std::size_t start, std::size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    return (start == 0 || !IsWordByte(p[start - 1])) &&
           (start + length >= line.size() || !IsWordByte(p[start + length]));
}

namespace {

// The empty string as a whole word: some place with no word byte on either
// side of it.
bool EmptyWordFits(std::string_view line) {
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    const std::size_t n = line.size();
    if (n == 0 || !IsWordByte(p[0]) || !IsWordByte(p[n - 1])) return true;
    for (std::size_t i = 1; i < n; ++i)
        if (!IsWordByte(p[i - 1]) && !IsWordByte(p[i])) return true;
    return false;
}

}  // namespace

namespace {

}  // namespace

int MatchLine(const Matcher& m, LineMatch& lm, std::string_view line, const std::uint64_t* starts, std::size_t at) {
    auto& found = lm.found;
    found.clear();
    if (lm.seen.size() != m.needle_text.size()) lm.seen.assign(m.needle_text.size(), 0);
    if (!m.empties.empty() && (!m.word || EmptyWordFits(line))) found = m.empties;
    const std::uint64_t serial = ++lm.line_serial;
    const std::size_t w = m.window, n = line.size();
    if (!m.needle_text.empty() && n >= w) {
        const auto* p = reinterpret_cast<const unsigned char*>(line.data());
        for (std::size_t from = at, to = at + n - w + 1;; ++from) {
            from = NextMark(starts, from, to);
            if (from == to) break;
            const std::size_t start = from - at;
            const std::uint32_t key = w == 1 ? kFold[p[start]] : PairKey(kFold[p[start + w - 2]], kFold[p[start + w - 1]]);
            for (std::uint32_t b = m.bucket_start[key]; b < m.bucket_start[key + 1]; ++b) {
                const std::uint32_t index = m.bucket[b];
                const std::string_view needle = m.needle_text[index];
                if (lm.seen[index] == serial || needle.size() > n - start || !EqualFolded(p + start, needle) ||
                    (m.word && !WholeWord(line, start, needle.size())))
                    continue;
                lm.seen[index] = serial;  // a line counts once per string
                found.push_back(m.needle_order[index]);
            }
        }
    }
    if (found.size() > 1) std::sort(found.begin(), found.end());
    return static_cast<int>(found.size());
}

int MatchLine(const Matcher& m, LineMatch& lm, std::string_view line) {
    Marks marks;
    SizeMarks(marks, line.size());
    MarkMatches(m, line.data(), 0, line.size(), marks);
    return MatchLine(m, lm, line, marks.match.data(), 0);
}

void MarkMatches(const Matcher& m, const char* p, std::size_t from, std::size_t to, Marks& marks) {
    std::uint64_t* words = marks.match.data();
    for (std::size_t w = from >> 6; w < (to + 63) / 64 + 2; ++w) words[w] = 0;
    const std::string_view text(p + from, to - from);
    std::uint64_t starts = 0;
    for (std::size_t at = 0; (at = FindAny(m, text, at)) != std::string_view::npos; ++at, ++starts)
        words[(from + at) >> 6] |= std::uint64_t{1} << ((from + at) & 63);
    marks.starts = starts;
}

namespace {

bool ProbeHits(const Matcher& m, const Matcher::Probe& probe, const unsigned char* p, std::size_t n,
               std::size_t start) {
    std::string_view needle = std::string_view(m.needle_text[probe.needle]);
    return needle.size() <= n - start && EqualFolded(p + start, needle);
}

// FindAny by probes: sixteen starting places at a time are tested for both
// probe bytes of every needle, and only a place where both stand is compared.
std::size_t FindByProbes(const Matcher& m, std::string_view text, std::size_t from) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t x = from;
#if defined(__GNUC__) || defined(__clang__)
    typedef unsigned char Bytes __attribute__((vector_size(16)));
    auto load = [](const unsigned char* at) {
        Bytes v;
        std::memcpy(&v, at, sizeof v);
        return v | 0x20;
    };
    for (; x + m.probe_reach + 16 <= n; x += 16) {
        Bytes hit[kMaxProbes];
        std::uint64_t any[2] = {0, 0};
        for (std::size_t k = 0; k < m.probes.size(); ++k) {
            const Matcher::Probe& probe = m.probes[k];
            hit[k] = (Bytes)((load(p + x + probe.first) == probe.a) & (load(p + x + probe.second) == probe.b));
            std::uint64_t half[2];
            std::memcpy(half, &hit[k], sizeof half);
            any[0] |= half[0];
            any[1] |= half[1];
        }
        if (!(any[0] | any[1])) continue;
        for (int lane = 0; lane < 16; ++lane)
            for (std::size_t k = 0; k < m.probes.size(); ++k)
                if (hit[k][lane] && ProbeHits(m, m.probes[k], p, n, x + lane)) return x + lane;
    }
#endif
    for (; x < n; ++x)
        for (const Matcher::Probe& probe : m.probes)
            if (x + std::max(probe.first, probe.second) < n && (p[x + probe.first] | 0x20) == probe.a &&
                (p[x + probe.second] | 0x20) == probe.b && ProbeHits(m, probe, p, n, x))
                return x;
    return std::string_view::npos;
}

// Where a needle starts whose window ends at `end`, or npos.
std::size_t WindowMatch(const Matcher& m, const unsigned char* p, std::size_t n, std::size_t end) {
    std::size_t start = end + 1 - m.window;
    std::uint32_t key = PairKey(kFold[p[end - 1]], kFold[p[end]]);
    for (std::uint32_t b = m.bucket_start[key]; b < m.bucket_start[key + 1]; ++b) {
        std::string_view needle = std::string_view(m.needle_text[m.bucket[b]]);
        if (needle.size() <= n - start && EqualFolded(p + start, needle)) return start;
    }
    return std::string_view::npos;
}

// FindAny with a window of three bytes or more: two windows slide at once,
// over two neighbouring stretches of the text, since each skip waits for the
// one before it and two such chains keep the processor busier.
std::size_t FindInPairs(const Matcher& m, std::string_view text, std::size_t from) {
    constexpr std::size_t kStretch = 1024;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size(), w = m.window, npos = std::string_view::npos;
    const std::uint8_t* shift = m.shift.data();
    auto step = [&](std::size_t& end, std::size_t& found) {
        if (std::uint8_t s = shift[ShiftKey(p[end - 2], p[end - 1], p[end])]) {
            end += s;
            return false;
        }
        found = WindowMatch(m, p, n, end);
        ++end;
        return found != npos;
    };
    for (std::size_t start = from; start + w <= n; start += 2 * kStretch) {
        // Windows starting in [start, mid) and in [mid, mid + kStretch).
        std::size_t mid = start + kStretch;
        std::size_t a = start + w - 1, a_stop = std::min(n, mid + w - 1);
        std::size_t b = mid + w - 1, b_stop = std::min(n, mid + kStretch + w - 1);
        std::size_t found_a = npos, found_b = npos;
        while (a < a_stop && b < b_stop) {
            if (step(a, found_a)) return found_a;
            if (step(b, found_b)) break;
        }
        while (a < a_stop)
            if (step(a, found_a)) return found_a;
        if (found_b != npos) return found_b;
        while (b < b_stop)
            if (step(b, found_b)) return found_b;
    }
    return npos;
}

#ifdef REPOSEARCH_X86
// Where the first needle starts among the places the fingerprints let
// through: bit i of `places` stands for start + i, and groups[i] holds the
// groups that fit there.
std::size_t FirstFit(const Matcher& m, std::string_view text, std::size_t start, std::uint32_t places,
                     const unsigned char* groups) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (; places; places &= places - 1) {
        const unsigned lane = static_cast<unsigned>(__builtin_ctz(places));
        const std::size_t at = start + lane;
        for (unsigned g = groups[lane]; g; g &= g - 1)
            for (std::uint32_t index : m.groups[static_cast<std::size_t>(__builtin_ctz(g))]) {
                std::string_view needle = std::string_view(m.needle_text[index]);
                if (needle.size() <= text.size() - at && EqualFolded(p + at, needle)) return at;
            }
    }
    return std::string_view::npos;
}

// The rest of the text after the last whole stretch of places.
std::size_t FindInTail(const Matcher& m, std::string_view text, std::size_t start) {
    if (m.window >= 3) return start + m.window <= text.size() ? FindInPairs(m, text, start) : std::string_view::npos;
    std::size_t at = std::string_view::npos;
    Scan(m, text, start, [&](std::uint32_t, std::size_t place) {
        at = place;
        return true;
    });
    return at;
}

// FindAny by fingerprints, sixteen places at a time. Bytes are taken with bit
// 0x20 set, as the tables were built, so both cases of a letter fit. x runs
// over the places of the fingerprints, each m.fingerprint_offset after a
// needle's start, so the starts are tested in order.
__attribute__((target("ssse3"))) std::size_t FindByFingerprints(const Matcher& m, std::string_view text,
                                                                 std::size_t from) {
    typedef char Bytes __attribute__((vector_size(16)));  // as the builtins take it
    typedef unsigned char Unsigned __attribute__((vector_size(16)));
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    Bytes low[3], high[3];
    std::memcpy(low, m.low_nibble.data(), sizeof low);
    std::memcpy(high, m.high_nibble.data(), sizeof high);
    const std::size_t offset = m.fingerprint_offset;
    std::size_t x = from + offset;
    for (; x + 16 + 2 <= text.size(); x += 16) {
        Bytes fit = low[0] | ~low[0];  // all ones
        for (int k = 0; k < 3; ++k) {
            Unsigned v;
            std::memcpy(&v, p + x + k, sizeof v);
            v |= 0x20;
            fit &= __builtin_ia32_pshufb128(low[k], (Bytes)(v & 15)) &
                   __builtin_ia32_pshufb128(high[k], (Bytes)(v >> 4));
        }
        if (auto places = static_cast<std::uint32_t>(__builtin_ia32_pmovmskb128((Bytes)(fit != 0)))) {
            std::size_t at = FirstFit(m, text, x - offset, places, reinterpret_cast<unsigned char*>(&fit));
            if (at != std::string_view::npos) return at;
        }
    }
    return FindInTail(m, text, x - offset);
}

// The same thirty-two places at a time; each half of a 32-byte lookup reads
// its own copy of the table. Written out apart from the 16-place loop: a
// function built for SSSE3 cannot hold 32-byte vectors, nor share a loop
// body with one built for AVX2.
__attribute__((target("avx2"))) std::size_t FindByFingerprintsWide(const Matcher& m, std::string_view text,
                                                                    std::size_t from) {
    typedef char Bytes __attribute__((vector_size(32)));
    typedef unsigned char Unsigned __attribute__((vector_size(32)));
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    Bytes low[3], high[3];
    for (int k = 0; k < 3; ++k)
        for (int half = 0; half < 32; half += 16) {
            std::memcpy(reinterpret_cast<char*>(&low[k]) + half, m.low_nibble[k].data(), 16);
            std::memcpy(reinterpret_cast<char*>(&high[k]) + half, m.high_nibble[k].data(), 16);
        }
    const std::size_t offset = m.fingerprint_offset;
    std::size_t x = from + offset;
    for (; x + 32 + 2 <= text.size(); x += 32) {
        Bytes fit = low[0] | ~low[0];
        for (int k = 0; k < 3; ++k) {
            Unsigned v;
            std::memcpy(&v, p + x + k, sizeof v);
            v |= 0x20;
            fit &= __builtin_ia32_pshufb256(low[k], (Bytes)(v & 15)) &
                   __builtin_ia32_pshufb256(high[k], (Bytes)(v >> 4));
        }
        if (auto places = static_cast<std::uint32_t>(__builtin_ia32_pmovmskb256((Bytes)(fit != 0)))) {
            std::size_t at = FirstFit(m, text, x - offset, places, reinterpret_cast<unsigned char*>(&fit));
            if (at != std::string_view::npos) return at;
        }
    }
    return FindInTail(m, text, x - offset);
}
#endif

}  // namespace

#ifdef REPOSEARCH_X86
typedef unsigned char Bytes32u __attribute__((vector_size(32)));
typedef char Bytes32s __attribute__((vector_size(32)));  // as the builtin takes them

// Thirty-two bytes with bit 0x20 set, as the probes compare them.
__attribute__((target("avx2"), always_inline)) inline Bytes32u LoadFolded32(const unsigned char* at) {
    Bytes32u v;
    std::memcpy(&v, at, sizeof v);
    return v | 0x20;
}

// FindByProbes thirty-two places at a time, where the processor can.
__attribute__((target("avx2"))) std::size_t FindByProbesWide(const Matcher& m, std::string_view text,
                                                              std::size_t from) {
    typedef Bytes32u Bytes;
    typedef Bytes32s SignedBytes;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size(), count = m.probes.size();
    const auto load = LoadFolded32;
    std::size_t x = from;
    for (; x + m.probe_reach + 32 <= n; x += 32) {
        std::uint32_t places[kMaxProbes];
        std::uint32_t any = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const Matcher::Probe& probe = m.probes[k];
            const Bytes hit = (Bytes)((load(p + x + probe.first) == probe.a) & (load(p + x + probe.second) == probe.b));
            places[k] = static_cast<std::uint32_t>(__builtin_ia32_pmovmskb256((SignedBytes)hit));
            any |= places[k];
        }
        for (; any; any &= any - 1) {
            const unsigned lane = static_cast<unsigned>(__builtin_ctz(any));
            for (std::size_t k = 0; k < count; ++k)
                if ((places[k] >> lane & 1) && ProbeHits(m, m.probes[k], p, n, x + lane)) return x + lane;
        }
    }
    return FindByProbes(m, text, x);  // the last places, sixteen or one at a time
}
#endif

std::size_t FindAny(const Matcher& m, std::string_view text, std::size_t from) {
#ifdef REPOSEARCH_X86
    if (!m.probes.empty() && m.probes_wide) return FindByProbesWide(m, text, from);
#endif
    if (!m.probes.empty()) return FindByProbes(m, text, from);
#ifdef REPOSEARCH_X86
    if (m.fingerprint_width == 32) return FindByFingerprintsWide(m, text, from);
    if (m.fingerprint_width == 16) return FindByFingerprints(m, text, from);
#endif
    if (m.window >= 3) return FindInPairs(m, text, from);
    std::size_t at = std::string_view::npos;
    Scan(m, text, from, [&](std::uint32_t, std::size_t start) {
        at = start;
        return true;
    });
    return at;
}
