// Writes a seeded synthetic repository export of a given size, for the
// benchmarks and the soak:
//   make_export SEED SIZE OUT [long|dense|real] [awkward]
// SIZE is in megabytes, or in kilobytes with a K after it (as the soak
// names the exports it tried). The shapes are described in export_gen.h.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "export_gen.h"

int main(int argc, char** argv) {
    ExportRecipe recipe;
    if (argc < 4 || argc > 6 || (argc >= 5 && !ShapeByName(argv[4], recipe.shape)) ||
        (argc == 6 && std::string(argv[5]) != "awkward")) {
        std::fprintf(stderr, "usage: make_export SEED SIZE[K] OUT [long|dense|real] [awkward]\n");
        return 2;
    }
    recipe.seed = std::strtoull(argv[1], nullptr, 10);
    char* unit = nullptr;
    recipe.bytes = std::strtoull(argv[2], &unit, 10) << (unit && *unit == 'K' ? 10 : 20);
    recipe.awkward = argc == 6;
    std::FILE* out = std::fopen(argv[3], "wb");
    if (!out) {
        std::perror(argv[3]);
        return 2;
    }
    bool ok = true;
    WriteExport(recipe, [&](std::string_view piece) { ok = std::fwrite(piece.data(), 1, piece.size(), out) == piece.size() && ok; });
    ok = std::fclose(out) == 0 && ok;
    if (!ok) std::fprintf(stderr, "make_export: writing %s failed\n", argv[3]);
    return ok ? 0 : 2;
}
