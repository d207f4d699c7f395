#pragma once

#include "support/TestSupport.h"

#include <algorithm>
#include <memory>
#include <vector>

// Runs the main loop until every operation of a race test has finished.
template <typename Operation>
bool waitUntilAllFinished(const std::vector<std::shared_ptr<Operation>> &operations) {
    return VNTest::waitUntil([&] {
        return std::all_of(operations.begin(), operations.end(), [](const auto &op) { return op->isFinished(); });
    });
}
