// Makes the Nth allocation of the test executable fail with std::bad_alloc, to drive every
// allocation of a scan to failure.
#pragma once

#include <cstddef>

namespace test {

// The next `count` allocations succeed; the one after fails, and so does every one after it
// until Disarm.
void FailAllocationAfter(size_t count);
void Disarm();
bool AllocationFailed();

class ScopedAllocationFailure {
public:
    explicit ScopedAllocationFailure(size_t count) { FailAllocationAfter(count); }
    ~ScopedAllocationFailure() { Disarm(); }
};

}  // namespace test
