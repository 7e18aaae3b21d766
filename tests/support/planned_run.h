// The completed settings and the geometry of a run as plan() fixes them, for
// tests of the subsystems below the plan.
#pragma once

#include <gtest/gtest.h>

#include "engine/engine.h"

struct PlannedRun {
    rdsgen::RunSettings settings;
    rdsgen::RowGeometry geometry;
};

inline PlannedRun planRun(const rdsgen::Settings& settings, const rdsgen::ImageHeader& heights,
                          const rdsgen::ImageHeader* pattern = nullptr) {
    const rdsgen::Plan planned = rdsgen::plan(settings, heights, pattern);
    EXPECT_TRUE(planned) << rdsgen::statusText(planned.refusal);
    if (!planned) return {};
    return {planned.detail->settings, planned.detail->geometry};
}
