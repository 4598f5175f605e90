// The soak: exports of random shape and size (up to 100 MB), each read by
// the reference and searched on one thread, on two, and on two with the
// reading threads paused at random and reads of any size, until the time
// is up.
//   soak SECONDS [FIRST_SEED] [FOLDER]
//   soak --export EXPORT STRINGS_FILE...   (an export of one's own, each file's strings, on two threads)
// Prints each export it tried with the make_export command that writes it
// again, and what differed; exits 1 when anything did.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "differential.h"
#include "export_gen.h"

namespace {

using differential::Mode;
using differential::Search;

// The strings of one search: rare, some, common, many, whole words, and
// strings made of the tags themselves.
Search PickSearch(std::mt19937_64& rng) {
    switch (rng() % 10) {
    case 0: return {{"ROUTE_CODE"}};
    case 1: return {{"ROUTE_CODE", "ZQ_ALPHA", "CALC_DISCOUNT", "ZQ_JULIET"}};
    case 2: return {{"ACCT_NO", "CALL CUST", "SELECTDB", "ZQ_"}};
    case 3: return {{"=", "IF", "CALL", "CUST", "_NO", "ACCT", "ITEM", "MESSAGE"}};
    case 4: return {{"ROUTE_CODE", "ZQ_BRAVO", "PAY_TERMS", "IF"}, true};
    case 5: return {{"OCC>", "<", "ULABEL", "TABLE"}};
    case 6: {
        Search s{{"ZQ_DELTA", "ROUTE_CODE"}};
        for (int i = 0; i < 60; ++i) s.strings.push_back("MADE_UP_" + std::to_string(i));
        return s;
    }
    case 7: return {{"X", "ROUTE_CODE"}};
    case 8: return {{"ACCT_NO", "CALL CUST", "ZQ_"}, false, {"table=*"}, {"element=UDESCR,UCOMMENT"}, 3, 2};
    default: return {{"ZQ_ECHO", ""}};  // an empty string: every data line
    }
}

std::string Describe(const Search& s) {
    std::string out = s.word ? "-w " : "";
    for (std::size_t i = 0; i < s.strings.size() && i < 4; ++i) out += (i ? "|" : "") + s.strings[i];
    if (s.strings.size() > 4) out += "|... (" + std::to_string(s.strings.size()) + " strings)";
    return out;
}

}  // namespace

// An export of one's own (the benchmark's, say), searched for the strings of
// each file (a line each) on two threads and held against the reference.
int CheckExport(const std::string& path, const std::vector<std::string>& files) {
    const std::string log = path + ".soak.log";
    int differing = 0;
    for (const std::string& file : files) {
        Search search;
        std::FILE* f = std::fopen(file.c_str(), "rb");
        if (!f) {
            std::perror(file.c_str());
            return 2;
        }
        char line[4096];
        while (std::fgets(line, sizeof line, f)) {
            std::string s(line);
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
            for (char& c : s)
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            search.strings.push_back(s);
        }
        std::fclose(f);
        const differential::Outputs want = differential::RunReference(path, search);
        const std::string d = differential::Differences(want, differential::RunEngine(path, log, search, Mode::TwoThreads));
        std::printf("%s, %s (%zu strings, %zu hits): %s\n", path.c_str(), file.c_str(), search.strings.size(),
                    want.records.size(), d.empty() ? "same" : ("DIFFERS\n" + d).c_str());
        differing += !d.empty();
    }
    std::remove(log.c_str());
    return differing ? 1 : 0;
}

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--export") return CheckExport(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: soak SECONDS [FIRST_SEED] [FOLDER]\n");
        return 2;
    }
    const double seconds = std::strtod(argv[1], nullptr);
    std::uint64_t seed = argc >= 3 ? std::strtoull(argv[2], nullptr, 10)
                                   : static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count() % 1000000007);
    const std::filesystem::path folder = argc >= 4 ? std::filesystem::path(argv[3]) : std::filesystem::temp_directory_path();
    const std::string name = "soak-" + std::to_string(std::random_device{}());  // apart from other soaks
    const std::string path = (folder / (name + ".xml")).string(), log = (folder / (name + ".log")).string();
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    std::uint64_t exports = 0, bytes = 0, searches = 0, differing = 0;
    std::printf("soak for %.0f s from seed %llu\n", seconds, static_cast<unsigned long long>(seed));
    for (; elapsed() < seconds; ++seed) {
        std::mt19937_64 rng(seed);
        ExportRecipe recipe;
        recipe.seed = seed;
        recipe.shape = static_cast<ExportShape>(rng() % 3);
        // Sizes spread evenly over their magnitude: many small, some large.
        const double megabytes = std::exp2(static_cast<double>(rng() % 1000) / 1000.0 * 6.64) - 0.9;  // 0.1 to 100
        recipe.bytes = static_cast<std::uint64_t>(megabytes * 1024) << 10;
        recipe.awkward = rng() % 10 < 7;
        const Search search = PickSearch(rng);
        const std::uint64_t delay_seed = 1 + rng() % 1000000;
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (!out) {
            std::perror(path.c_str());
            return 2;
        }
        std::uint64_t size = 0;
        WriteExport(recipe, [&](std::string_view piece) {
            std::fwrite(piece.data(), 1, piece.size(), out);
            size += piece.size();
        });
        if (std::fclose(out) != 0) {
            std::fprintf(stderr, "soak: writing %s failed\n", path.c_str());
            return 2;
        }
        std::printf("seed %llu: %.1f MB (make_export %llu %lluK OUT %s%s), %s:", static_cast<unsigned long long>(seed),
                    static_cast<double>(size) / (1 << 20), static_cast<unsigned long long>(seed),
                    static_cast<unsigned long long>(recipe.bytes >> 10), ShapeName(recipe.shape),
                    recipe.awkward ? " awkward" : "", Describe(search).c_str());
        std::fflush(stdout);
        // The reference against one thread, and the other ways against one
        // thread, the log and the progress shown included.
        const differential::Outputs want = differential::RunReference(path, search);
        const differential::Outputs one = differential::RunEngine(path, log, search, Mode::OneThread);
        std::string found;
        if (const std::string d = differential::Differences(want, one); !d.empty()) found += "  one thread:\n" + d;
        struct Way {
            const char* name;
            Mode mode;
            std::size_t read_size;
        };
        for (const Way& way : {Way{"two threads", Mode::TwoThreads, 0}, Way{"two threads, paused", Mode::Paused, 0},
                               Way{"two threads, paused, short reads", Mode::Paused, 1 + delay_seed % 200000}}) {
            const std::string d = differential::Differences(one, differential::RunEngine(path, log, search, way.mode, delay_seed, way.read_size));
            if (!d.empty()) found += std::string("  ") + way.name + " (seed " + std::to_string(delay_seed) + "):\n" + d;
        }
        searches += 4;
        ++exports;
        bytes += size;
        if (found.empty()) {
            std::printf(" same\n");
        } else {
            ++differing;
            std::printf(" DIFFERS\n%s", found.c_str());
        }
        std::fflush(stdout);
    }
    std::remove(path.c_str());
    std::remove(log.c_str());
    std::printf("%llu exports, %.1f MB, %llu searches held against the reference reading in %.0f s: %llu differed\n",
                static_cast<unsigned long long>(exports), static_cast<double>(bytes) / (1 << 20),
                static_cast<unsigned long long>(searches), elapsed(), static_cast<unsigned long long>(differing));
    return differing ? 1 : 0;
}
