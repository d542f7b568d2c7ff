#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sys/concurrency/critical_section.h"

namespace qv::sys {
namespace {

TEST(CriticalSection, OwnerMayEnterAgainAndGuardsSerialiseThreads) {
    CriticalSection section;
    section.enter();
    section.enter();
    section.leave();
    section.leave();
    EXPECT_THROW(
        {
            CriticalSectionGuard guard(section);
            throw std::runtime_error("inside");
        },
        std::runtime_error);

    // Hangs if a leave above were missed; loses increments if entering did not exclude.
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CriticalSectionGuard guard(section);
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
