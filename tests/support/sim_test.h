// Base fixture of unit tests: a fresh simulated machine for each test, and the accounting every
// test must pass: no handle left open, none closed twice, and nothing written unless the test says so.
#pragma once

#include <gtest/gtest.h>

#include "platform/sim_backend.h"

namespace test {

class SimTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(sim.OpenHandles(), 0u) << "handles left open";
        EXPECT_EQ(sim.InvalidCloses(), 0u) << "handles closed that were not open";
        if (!writesExpected) {
            EXPECT_EQ(sim.Writes(), 0u) << "the system was written to";
        }
    }

    platform::SimulatedBackend sim;
    platform::ScopedBackend scope{sim};
    bool writesExpected = false;
};

}  // namespace test
