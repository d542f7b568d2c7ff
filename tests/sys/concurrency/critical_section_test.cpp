#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sys/concurrency/critical_section.h"

namespace qv::sys {
namespace {

TEST(CriticalSection, OwnerMayEnterAgainAndGuardsSerialiseThreads) {
    CriticalSection section;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                // Hangs if the owner could not enter again or a leave were missed;
                // loses increments if entering did not exclude.
                CriticalSectionGuard outer(section);
                CriticalSectionGuard inner(section);
                counter = counter + 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 80000);
}

} // namespace
} // namespace qv::sys
