// Base fixture of unit tests: a fresh simulated machine for each test, and the accounting every
// test must pass: no handle left open, none closed twice, and nothing written unless the test says so.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "platform/sim_backend.h"
#include "scanner/scan_context.h"

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

// A simulated machine and a scan context reset for a scan with the default settings. The context
// goes before the accounting is checked, so the hives it holds do not count as leaked.
class ContextTest : public SimTest {
protected:
    void SetUp() override { context->ResetForScan(nullptr); }
    void TearDown() override {
        context.reset();
        SimTest::TearDown();
    }

    std::unique_ptr<Tessel::CAutorunContext> context = std::make_unique<Tessel::CAutorunContext>();
};

}  // namespace test
