#include <gtest/gtest.h>

#include "tools/dump_reader/report.h"
#include "tools/dump_reader/samples.h"

namespace qv::dump {
namespace {

using sample::kImageBase;
constexpr std::uint64_t kNtdll = 0x170000000, kStack = 0x10000;

Registers at(std::uint64_t rip, std::uint64_t rsp) {
    Registers registers;
    registers.rip = rip;
    registers.r[Registers::kRsp] = rsp;
    return registers;
}

// A stack of 8-byte slots from kStack.
std::string stack(const std::vector<std::uint64_t>& slots) {
    std::string bytes(8 * slots.size(), '\0');
    for (std::size_t i = 0; i < slots.size(); ++i) {
        sample::put(bytes, 8 * i, slots[i]);
    }
    return bytes;
}

std::string dumpWith(const std::string& stackBytes, const Registers& context) {
    return sample::minidump(
        {{7, kStack, stackBytes, context},
         {9, kStack + 0x800, stack({1, 2}), at(kNtdll + 4, kStack + 0x800)}},
        {{kImageBase, sample::kImageSize, 0x1234, 0, "C:\\Program Files\\Quorvane\\app.exe"},
         {kNtdll, 0x1000, 0, 0x63f14e2b, "C:\\windows\\system32\\ntdll.dll"}},
        sample::DumpException{7, 0xC0000005, kImageBase + 0x1090, context});
}

TEST(Minidump, ReadsThreadsModulesTheExceptionAndStackMemory) {
    const std::string bytes = dumpWith(stack({0x1111, 0x2222}), at(kImageBase + 0x1090, kStack));
    const Minidump dump(bytes, "x.dmp");
    ASSERT_EQ(2u, dump.threads().size());
    EXPECT_EQ(9u, dump.threads()[1].id);
    EXPECT_EQ(kStack + 0x800, dump.threads()[1].context->rsp());
    ASSERT_EQ(2u, dump.modules().size());
    EXPECT_EQ("app.exe", dump.modules()[0].name());
    EXPECT_EQ(0x63f14e2bu, dump.moduleAt(kNtdll + 0xFFF)->timeStamp);
    EXPECT_EQ(nullptr, dump.moduleAt(kNtdll + 0x1000));
    ASSERT_TRUE(dump.exception());
    EXPECT_EQ(0xC0000005u, dump.exception()->code);
    EXPECT_EQ(kImageBase + 0x1090, dump.exception()->context->rip);
    EXPECT_EQ(std::vector<std::uint64_t>({1, 0}), dump.exception()->parameters);
    EXPECT_EQ(0x2222u, dump.read64(kStack + 8));
    EXPECT_FALSE(dump.read64(kStack + 9)); // runs past the captured range
}

TEST(Minidump, TruncationsAndOffsetsPastTheFileAreErrors) {
    const std::string bytes = dumpWith(stack({0x1111, 0x2222}), at(kImageBase + 0x1090, kStack));
    // Every stream and record lies before the end, so every cut loses one.
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        EXPECT_THROW(Minidump(std::string_view(bytes).substr(0, size), "x.dmp"), InputError) << size;
    }
    const auto refused = [&](std::size_t offset, std::uint32_t value) {
        std::string corrupt = bytes;
        sample::put(corrupt, offset, value);
        try {
            Minidump(corrupt, "x.dmp");
        } catch (const InputError& e) {
            EXPECT_EQ(kBadDump, e.status);
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    const std::uint32_t threads = 32 + 8, modules = 32 + 12 + 8; // their streams' offsets in the directory
    const auto offsetAt = [&](std::size_t at) {
        return std::uint8_t(bytes[at]) | std::uint8_t(bytes[at + 1]) << 8;
    };
    const std::uint32_t threadList = offsetAt(threads), moduleList = offsetAt(modules);
    EXPECT_EQ("x.dmp: stream 3 (" + std::to_string(4 + 2 * 48) +
                  " bytes at offset 0xfffffff0) runs past the end of the file (" +
                  std::to_string(bytes.size()) + " bytes)",
              refused(threads, 0xFFFFFFF0));
    EXPECT_EQ("x.dmp: the thread list holds 3 records but 100 bytes", refused(threadList, 3));
    EXPECT_NE(std::string::npos, refused(threadList + 4 + 36, 0xFFFFFF00).find("a memory range")); // a stack
    EXPECT_NE(std::string::npos, refused(threadList + 4 + 44, 0xFFFFFF00).find("a thread context"));
    EXPECT_NE(std::string::npos, refused(moduleList + 4 + 20, 0xFFFFFF00).find("a module's name"));
    EXPECT_NE(std::string::npos, refused(0, 0x504D444E).find("not a minidump"));
}

TEST(StackWalk, UnwindsFramePointerChainedAndLeafFunctions) {
    const std::string image = sample::image();
    const PeImage pe(image, "app.exe");
    // In the fragment: rbx saved at [rsp+16]; then the parent's frame from rbp = rsp + 0x40:
    // rsp = rbp - 16, + 32 allocated, rbp pushed, the return address into the leaf at 0x1200.
    std::vector<std::uint64_t> slots(14, 0);
    slots[2] = 0xB0B;
    slots[10] = 0x77;
    slots[11] = kImageBase + 0x1205;
    slots[12] = kNtdll + 0x10;
    Registers top = at(kImageBase + 0x1090, kStack);
    top.r[5] = kStack + 0x40;
    const std::string bytes = dumpWith(stack(slots), top);
    const Minidump dump(bytes, "x.dmp");

    const auto caller = unwindFrame(top, kImageBase, true, pe, dump);
    ASSERT_TRUE(caller);
    EXPECT_EQ(0xB0Bu, caller->r[3]);
    EXPECT_EQ(0x77u, caller->r[5]);
    EXPECT_EQ(kImageBase + 0x1205, caller->rip);
    EXPECT_EQ(kStack + 0x60, caller->rsp());
    const auto leafCaller = unwindFrame(*caller, kImageBase, false, pe, dump);
    ASSERT_TRUE(leafCaller);
    EXPECT_EQ(kNtdll + 0x10, leafCaller->rip);
    EXPECT_EQ(kStack + 0x68, leafCaller->rsp());
    top.r[5] = kStack + 0x1000; // the frame register points outside the captured stack
    EXPECT_FALSE(unwindFrame(top, kImageBase, true, pe, dump));
}

TEST(StackWalk, ScansPastModulesWithoutUnwindDataForPlausibleReturnAddresses) {
    const std::string image = sample::image();
    const PeImage pe(image, "app.exe");
    // From ntdll: a stale return address after a direct call into the image's
    // own code (ntdll cannot have been entered so), then one after an indirect call.
    const std::string bytes = dumpWith(
        stack({0x5, kImageBase + 0x1305, kImageBase + 0x1406, kNtdll + 0x100, 0}), at(kNtdll + 0x20, kStack));
    const Minidump dump(bytes, "x.dmp");
    const Images images{{kImageBase, &pe}};
    const std::vector<Frame> frames = walkStack(dump, images, *dump.exception()->context);
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ(kImageBase + 0x1406, frames[1].rip);
    EXPECT_EQ(Frame::Found::kScanned, frames[1].found);
    EXPECT_EQ(kNtdll + 0x100, frames[2].rip);
    EXPECT_EQ(Frame::Found::kUnwound, frames[2].found);
    // A direct call to an import thunk may well have entered ntdll.
    const std::string thunk =
        dumpWith(stack({kImageBase + 0x1605, kNtdll + 0x100}), at(kNtdll + 0x20, kStack));
    const std::vector<Frame> viaThunk =
        walkStack(Minidump(thunk, "x.dmp"), images, at(kNtdll + 0x20, kStack));
    ASSERT_LE(2u, viaThunk.size());
    EXPECT_EQ(kImageBase + 0x1605, viaThunk[1].rip);
}

TEST(DebugFiles, PairByNameAndIdentityAndRefuseOtherBuilds) {
    const std::string bytes = dumpWith(stack({0}), at(kImageBase + 0x1090, kStack));
    const Minidump dump(bytes, "x.dmp");
    const std::string image = sample::image(), other = sample::image(0x1235),
                      stamped = sample::image(0x1234, 0x5);
    EXPECT_EQ(kImageBase, moduleOf(dump, PeImage(image, "d/App.exe.debug"), "d/App.exe.debug").base);
    EXPECT_EQ(kImageBase, moduleOf(dump, PeImage(image, "app.exe"), "app.exe").base);
    const auto refusal = [&](const std::string& pe, const std::string& name) {
        try {
            moduleOf(dump, PeImage(pe, name), name);
        } catch (const InputError& e) {
            EXPECT_EQ(kBadDebugFile, e.status);
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(
        "app.exe does not belong to C:\\Program Files\\Quorvane\\app.exe of the dump: image size 0x3000 and "
        "checksum 0x1235, the module's 0x3000 and 0x1234",
        refusal(other, "app.exe"));
    EXPECT_EQ(
        "app.exe.debug does not belong to C:\\Program Files\\Quorvane\\app.exe of the dump: time stamp 0x5, "
        "the module's 0x0",
        refusal(stamped, "app.exe.debug"));
    EXPECT_EQ("tool.exe: the dump has no module named tool.exe", refusal(image, "tool.exe"));

    // Build ids decide where the dump has one (as Windows writes them), time stamps and checksums aside.
    const std::string withId = sample::minidump(
        {}, {{kImageBase, sample::kImageSize, 0x1234, 7, "app.exe", sample::codeViewRecord('a')}},
        std::nullopt);
    const Minidump identified(withId, "x.dmp");
    EXPECT_EQ(kImageBase, moduleOf(identified, PeImage(sample::image(1, 2, 'a'), "app.exe"), "app.exe").base);
    EXPECT_THROW(moduleOf(identified, PeImage(sample::image(0x1234, 7, 'b'), "app.exe"), "app.exe"),
                 InputError);
    // A debug directory claiming 4 GB is read up to its end in the file.
    const std::string identifiedImage = sample::image(0x1234, 0, 'a');
    std::string huge = identifiedImage;
    sample::put(huge, 0x58 + 116 + 8 * 6, 0xFFFFFFFFu);
    EXPECT_EQ(PeImage(identifiedImage, "x").codeView(), PeImage(huge, "x").codeView());
    EXPECT_NE(std::string::npos, refusal(image.substr(0, 0x100), "app.exe").find("a section header"));
}

} // namespace
} // namespace qv::dump
