// The context fields and which elements name them.
#include "context.h"

#include "bytes.h"
#include "tags.h"

void ClearContext(ScanContext& c) {
    for (const ContextField& f : kContextFields) (c.*f.value).clear();
}

namespace {

// The index of the field a context name fills, or -1.
int FieldNamed(std::string_view name) {
    for (std::size_t i = 0; i < kContextFields.size(); ++i)
        if (!name.empty() && kContextFields[i].map_name == name) return static_cast<int>(i);
    return -1;
}

bool LookUpContext(int row, std::string_view name, int& field) {
    const std::string_view map = kTables[static_cast<std::size_t>(row)].context_map4;
    const std::size_t at = map.find(name);
    field = -1;
    if (at == std::string_view::npos) return false;
    const std::size_t start = at + name.size() + 1;  // one past the "="
    if (start > map.size()) return true;
    const std::size_t comma = map.find(',', start);
    if (comma == std::string_view::npos) return true;
    field = FieldNamed(map.substr(start, comma - start));
    return true;
}

}  // namespace

std::string_view ContextNameHolding(int row, std::string_view name) {
    const std::string_view map = kTables[static_cast<std::size_t>(row)].context_map4;
    const std::size_t at = map.find(name);
    if (at == std::string_view::npos) return {};
    // The pair it stands in: from after the ", " before it to its "=".
    const std::size_t comma = map.rfind(", ", at);
    const std::size_t start = comma == std::string_view::npos ? 0 : comma + 2;
    const std::size_t eq = map.find('=', start);
    const std::string_view whole = map.substr(start, eq == std::string_view::npos ? std::string_view::npos : eq - start);
    return whole == name ? std::string_view{} : whole;
}

bool NamesContext(ContextCache& cache, int row, std::string_view name, int& field) {
    // A slot by the row, the length and the two ends of the name: names that
    // share one only take turns in it.
    std::size_t hash = static_cast<std::size_t>(row) * 31 + name.size() * 7;
    if (!name.empty())
        hash += static_cast<unsigned char>(name.front()) * 5u + static_cast<unsigned char>(name.back()) * 3u +
                static_cast<unsigned char>(name[name.size() / 2]);
    ContextEntry& entry = cache[hash % cache.size()];
    if (entry.row != row || !SameText(entry.name, name)) {
        entry.row = row;
        entry.name = name;
        entry.context = LookUpContext(row, name, entry.field);
    }
    field = entry.field;
    return entry.context;
}
