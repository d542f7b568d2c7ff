#include "sys/errors/structured_exception.h"

#include <stdexcept>
#include <thread>

#include "errors_test_support.h"

namespace qv::sys {
namespace {

TEST(StructuredException, DescriptionNamesTheCode) {
    EXPECT_EQ("Structured Exception C0000005 Access Violation", structuredExceptionDescription(0xC0000005));
    EXPECT_EQ("Structured Exception C00000FD Stack Overflow", structuredExceptionDescription(0xC00000FD));
    EXPECT_EQ("Structured Exception 40010005 Unknown", structuredExceptionDescription(0x40010005));
    EXPECT_EQ("Structured Exception 00000001 Unknown", structuredExceptionDescription(1));
}

volatile int zero = 0;
int* volatile nowhere = nullptr;
volatile int read = 0;

// Frameless: it faults with the stack 8 bytes off the alignment of a body.
__attribute__((noinline)) int readLeaf(const int* p) {
    return *p;
}

struct Unwound {
    ~Unwound() { ++count; }
    static inline int count = 0;
};

__attribute__((noinline)) int divideWithLocal() {
    Unwound local;
    return 7 / zero;
}

// Runs `fault` on a thread of its own that installed the translator: the
// description caught there, then the text of a plain throw that follows.
template <typename Fault>
std::string faultOnTranslatingThread(Fault fault) {
    std::string caught = "nothing thrown";
    std::thread([&] {
        installStructuredExceptionTranslator();
        try {
            fault();
        } catch (const SystemException&) {
            caught = currentExceptionText();
        }
        try {
            throw std::runtime_error("plain"); // GCC's own throws pass the handler untouched
        } catch (const std::runtime_error& e) {
            caught += std::string(", then ") + e.what();
        }
    }).join();
    return caught;
}

TEST(StructuredException, FaultsOnATranslatingThreadAreThrownThroughTheFaultingFrame) {
    for (int i = 1; i <= 20; ++i) {
        ASSERT_EQ("Structured Exception C0000094 Integer Divide By Zero, then plain",
                  faultOnTranslatingThread(divideWithLocal));
        ASSERT_EQ(i, Unwound::count);
        ASSERT_EQ("Structured Exception C0000005 Access Violation, then plain",
                  faultOnTranslatingThread([] { read = readLeaf(nowhere); }));
    }
}

TEST(StructuredException, OnlyTheFirstFaultOfAnInstallingThreadIsTranslated) {
    const test::ChildRun twice = test::runChild("fault-twice");
    EXPECT_EQ(0xC0000094u, twice.status) << twice.output;
    EXPECT_EQ(1u, twice.count("caught: Structured Exception C0000094 Integer Divide By Zero"));
    EXPECT_EQ(1u, twice.count("unhandled C0000094"));
    EXPECT_EQ(1u, twice.count("\tERROR\tstructured_exception.cpp"));
    EXPECT_EQ(0xC0000094u, twice.dump.value_or(std::make_pair(0u, 0u)).second);

    const test::ChildRun otherThread = test::runChild("fault-other-thread");
    EXPECT_EQ(0xC0000094u, otherThread.status) << otherThread.output;
    EXPECT_EQ(0u, otherThread.count("caught"));
    EXPECT_EQ(1u, otherThread.count("unhandled C0000094"));
}

} // namespace
} // namespace qv::sys
