// Allocation failures: every allocation of a run, one at a time, fails, and
// the run must end with the out-of-memory message, free everything and never
// touch the export. The counting operator new lives in this binary only.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "search_strings.h"
#include "test_util.h"

namespace {

// Counted on every thread: the export is read and indexed on several.
std::atomic<long> live_blocks{0};  // allocated and not yet freed
std::atomic<long> allocations{0};  // since the counter was armed
std::atomic<long> fail_at{0};      // this allocation fails; 0 for none
std::atomic<bool> armed{false};

void* Allocate(std::size_t n, std::size_t align = 0) {
    if (armed && ++allocations == fail_at) throw std::bad_alloc();
    void* p = align ? std::aligned_alloc(align, (n + align - 1) / align * align) : std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    ++live_blocks;
    return p;
}

void Free(void* p) noexcept {
    if (!p) return;
    --live_blocks;
    std::free(p);
}

// Fails the n-th allocation from now on (n = 0: none fails).
void Arm(long n) {
    allocations = 0;
    fail_at = n;
    armed = true;
}
void Disarm() { armed = false; }

// Boxes recorded without letting their own allocations fail.
struct Display final : ::Display {
    std::vector<testutil::Box> boxes;
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void SetProgressText(std::string_view) override {}
    void SetTimeLeft(std::string_view) override {}
    void ShowMessageBox(std::string_view text, std::string_view caption) override {
        bool was = armed;
        armed = false;
        boxes.push_back({std::string(text), std::string(caption)});
        armed = was;
    }
};

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void* operator new(std::size_t n, std::align_val_t a) { return Allocate(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return Allocate(n, static_cast<std::size_t>(a)); }
void operator delete(void* p, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Free(p); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }

namespace {

TEST(OutOfMemory, EveryFailureWhileBuildingTheStringsLeaksNothing) {
    const std::string text = "FIRST\r\n\r\nSECOND\r\nTHIRD";
    long n = 1;
    for (;; ++n) {
        const long before = live_blocks;
        bool built = false;
        Arm(n);
        try {
            built = BuildSrchStrings(text).size() == 4;
        } catch (const std::bad_alloc&) {
        }
        Disarm();
        EXPECT_EQ(live_blocks, before) << "allocation " << n;
        if (built) break;
    }
    EXPECT_GT(n, 1);
}

TEST(OutOfMemory, EveryFailureInARunEndsItCleanly) {
    testutil::TempDir dir;
    std::string path = dir / "export.xml";
    std::string log = dir / "export.log";
    const std::string bytes = testutil::CrLf({"<TABLE XMLNS:UFORM>", "<OCC>",
                                              "<UFORM:ULABEL>F</UFORM:ULABEL>",
                                              "<UFORM:UCODE>call foo", "foo</UFORM:UCODE>"});
    testutil::WriteFile(path, bytes);
    long n = 1;
    for (;; ++n) {
        std::remove(log.c_str());
        RunInputs in;
        in.srch_string = "FOO\r\nBAR";
        in.srchfilename = path;
        RunSeams seams;
        seams.clock = [] { return testutil::kStart; };
        Display display;
        long before = live_blocks;
        Arm(n);
        RunResult r = Quelvar(display, in, seams);
        Disarm();
        ASSERT_EQ(display.boxes.size(), 1u) << "allocation " << n;
        if (r.outcome == RunOutcome::Completed) {
            EXPECT_EQ(display.boxes[0].caption, "Result Summary");
            break;
        }
        EXPECT_EQ(r.outcome, RunOutcome::OutOfMemory) << "allocation " << n;
        EXPECT_EQ(display.boxes[0].caption, "Out of Memory Error");
        EXPECT_EQ(display.boxes[0].text, "Unable to initiate the search process due to lack of memory.");
        EXPECT_EQ(testutil::ReadFile(path), bytes);
        display.boxes.clear();
        display.boxes.shrink_to_fit();
        r = RunResult{};
        EXPECT_EQ(live_blocks, before) << "allocation " << n;
    }
    EXPECT_GT(n, 10);
}

// An export of many blocks, read and indexed on the threads there are and
// walked on one, the context rebuilt where a rare string starts: each
// allocation in turn fails, on any thread. A run then ends with the
// out-of-memory message, or completes with the very log of a run where
// nothing failed; nothing is left allocated either way.
TEST(OutOfMemory, EveryFailureOnAnyThreadEndsTheRunCleanly) {
    testutil::TempDir dir;
    const std::string path = dir / "export.xml", log = dir / "export.log";
    std::string bytes;
    for (int occ = 0; bytes.size() < (std::size_t{3} << 20); ++occ) {
        bytes += "<TABLE xmlns:USOURCE=\"u\">\r\n  <OCC>\r\n    <USOURCE:ULABEL>E" + std::to_string(occ) +
                 "</USOURCE:ULABEL>\r\n    <USOURCE:USOURCE>call x()\r\n" +
                 (occ % 997 == 0 ? "  rare_one\r\n" : "  y = z\r\n") + "</USOURCE:USOURCE>\r\n  </OCC>\r\n</TABLE>\r\n";
    }
    testutil::WriteFile(path, bytes);
    RunInputs in;
    in.srch_string = "RARE_ONE";
    in.srchfilename = path;
    RunSeams seams;
    seams.clock = [] { return testutil::kStart; };
    Display plain;
    ASSERT_EQ(Quelvar(plain, in, seams).outcome, RunOutcome::Completed);
    const std::string expected = testutil::ReadFile(log);
    for (long n = 1;; ++n) {
        const long before = live_blocks;
        bool failed = false;
        {
            Display display;
            Arm(n);
            const RunResult r = Quelvar(display, in, seams);
            Disarm();
            failed = allocations >= n;
            if (r.outcome == RunOutcome::Completed) {
                EXPECT_EQ(testutil::ReadFile(log), expected) << "allocation " << n;
            } else {
                EXPECT_EQ(r.outcome, RunOutcome::OutOfMemory) << "allocation " << n;
                EXPECT_TRUE(failed);
            }
            EXPECT_EQ(testutil::ReadFile(path), bytes);
        }
        EXPECT_EQ(live_blocks, before) << "allocation " << n;
        if (!failed) break;
    }
}

}  // namespace
