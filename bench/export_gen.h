// Seeded synthetic repository exports in the documented layout (CR LF line
// ends), for the benchmarks, the tests that hold the fast ways of reading
// against the plain one, and the soak.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

enum class ExportShape {
    // Long source lines, a quarter of the lines holding a tag. Ten markers
    // (kLongTargets) stand in about 0.5% of the data lines each, kRareMarker
    // in about 0.3%.
    Long,
    // One element a line (every column of an occurrence is an element),
    // about half the lines holding a tag, lines of about 35 bytes. Ten rare
    // markers (kDenseTargets) in about 0.07% of the lines each, kRareMarker
    // in about 0.05%.
    Dense,
    // As real exports are: each table once, the largest first with most of
    // the occurrences (so that it begins in the first block); occurrences
    // and elements often opened on one line; code elements that run over
    // many lines among one-line columns. Markers as in Dense.
    Real,
};

struct ExportRecipe {
    std::uint64_t seed = 1;
    ExportShape shape = ExportShape::Long;
    std::uint64_t bytes = 1 << 20;  // about this many; the last occurrence is finished
    // Mixes in what the layout does not expect and the scanner must still
    // read as written: zero bytes, lone CRs, LF-only line ends, trailing
    // blanks, lower-case tags, "<" and misplaced tags in data, several
    // tags on a line, self-closing and attributed elements, long lines,
    // bytes beyond ASCII.
    bool awkward = false;
};

// The markers each shape holds, as the benchmarks search for them.
extern const char* const kLongTargets[10];
extern const char* const kDenseTargets[10];
extern const char* const kRareMarker;

// Writes the export in pieces of about a megabyte through `put`.
void WriteExport(const ExportRecipe& recipe, const std::function<void(std::string_view)>& put);

// The whole export in memory.
std::string MakeExport(const ExportRecipe& recipe);

// The name of a shape on the command line ("long", "dense", "real"), and back;
// false for an unknown name.
const char* ShapeName(ExportShape shape);
bool ShapeByName(std::string_view name, ExportShape& shape);
