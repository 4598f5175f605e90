// --check: each export read for what the reading rules cannot see, told on
// standard output as text or as JSON records; nothing searched, no log.
#pragma once

#include <atomic>
#include <vector>

#include "exports.h"

struct CheckPlan {
    std::vector<ExportItem> exports;
    bool json = false;
    bool show_progress = false;
    const std::atomic<bool>* cancel = nullptr;
};

// Checks every export in turn. Returns the exit status: 0 nothing found, 1
// something found, 2 an export could not be read.
int RunChecks(const CheckPlan& plan);
