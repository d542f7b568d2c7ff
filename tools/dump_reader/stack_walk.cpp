#include "tools/dump_reader/stack_walk.h"

namespace qv::dump {

namespace {

// Unwind operations of UNWIND_CODE.
enum : std::uint8_t {
    kPushNonVolatile = 0,
    kAllocLarge = 1,
    kAllocSmall = 2,
    kSetFramePointer = 3,
    kSaveNonVolatile = 4,
    kSaveNonVolatileFar = 5,
    kEpilog = 6,
    kSaveXmm128 = 8,
    kSaveXmm128Far = 9,
    kPushMachineFrame = 10
};
constexpr std::uint8_t kChainedInfo = 0x4;
constexpr int kMaxChain = 32;
constexpr std::uint64_t kScanWindow = 0x4000; // bytes of stack scanned for one return address

// Slots one unwind operation takes in the code array.
int slots(std::uint8_t op, std::uint8_t info) {
    switch (op) {
    case kAllocLarge:
        return info == 0 ? 2 : 3;
    case kSaveNonVolatile:
    case kSaveXmm128:
    case kEpilog:
        return 2;
    case kSaveNonVolatileFar:
    case kSaveXmm128Far:
        return 3;
    default:
        return 1;
    }
}

// True when the bytes before `rva` end in a call instruction: what a return address follows.
bool followsCall(const PeImage& image, std::uint32_t rva) {
    std::uint8_t b[7];
    if (rva < sizeof b || !image.read(rva - sizeof b, b, sizeof b)) {
        return false;
    }
    const auto callModRm = [](std::uint8_t m, int mod) { return (m & 0x38) == 0x10 && (m >> 6) == mod; };
    return b[2] == 0xE8                                                     // call rel32
           || (b[1] == 0xFF && (b[2] == 0x15 || callModRm(b[2], 2)))        // call [rip+disp32], [reg+disp32]
           || (b[4] == 0xFF && callModRm(b[5], 1))                          // call [reg+disp8]
           || (b[5] == 0xFF && (callModRm(b[6], 3) || callModRm(b[6], 0))); // call reg, call [reg]
}

// False when the call before `rva` is a direct call that cannot have entered
// the frame above (at `callee`): a call into the image's own code where the
// frame above lies in another module (calls to those go through an import
// thunk, a jmp), or into another function than the one holding `callee`.
bool mayHaveCalled(const PeImage& image, std::uint32_t rva, const PeImage* calleeImage,
                   std::uint32_t callee) {
    std::uint8_t call[5], thunk[2];
    if (!image.read(rva - 5, call, 5) || call[0] != 0xE8) {
        return true; // an indirect call may have gone anywhere
    }
    const auto target =
        static_cast<std::uint32_t>(rva + static_cast<std::int32_t>(call[1] | call[2] << 8 | call[3] << 16 |
                                                                   std::uint32_t(call[4]) << 24));
    if (calleeImage == &image) {
        const auto function = image.functionAt(callee);
        return !function || function->begin == target;
    }
    return image.read(target, thunk, 2) && thunk[0] == 0xFF && thunk[1] == 0x25;
}

} // namespace

std::optional<Registers> unwindFrame(const Registers& registers, std::uint64_t moduleBase, bool topFrame,
                                     const PeImage& image, const Minidump& dump) {
    Registers caller = registers;
    const auto rva = static_cast<std::uint32_t>(registers.rip - moduleBase - (topFrame ? 0 : 1));
    std::optional<RuntimeFunction> function = image.functionAt(rva);
    const auto pop = [&](std::uint64_t& into) {
        const auto value = dump.read64(caller.r[Registers::kRsp]);
        caller.r[Registers::kRsp] += 8;
        return value ? (into = *value, true) : false;
    };
    if (!function) { // a leaf function: only the return address is on the stack
        return pop(caller.rip) ? std::optional(caller) : std::nullopt;
    }
    bool machineFrame = false;
    for (int chain = 0; chain < kMaxChain; ++chain) {
        std::uint8_t header[4];
        if (!image.read(function->unwindInfo, header, 4) || (header[0] & 7) < 1 || (header[0] & 7) > 2) {
            return std::nullopt;
        }
        const std::uint8_t flags = header[0] >> 3, prologSize = header[1], count = header[2];
        const std::uint8_t frameRegister = header[3] & 0xF, frameOffset = header[3] >> 4;
        std::vector<std::uint16_t> codes(count + 1u + 6u); // room for a chained entry after them
        if (!image.read(function->unwindInfo + 4, codes.data(),
                        2 * ((count + 1) & ~1) + 12 * !!(flags & kChainedInfo))) {
            return std::nullopt;
        }
        // Inside the prologue only the operations already done are undone.
        const std::uint32_t offset = rva - function->begin;
        const std::uint32_t done = rva >= function->begin && offset < prologSize ? offset : ~0u;
        const std::uint64_t frame =
            frameRegister != 0 ? caller.r[frameRegister] - 16u * frameOffset : caller.r[Registers::kRsp];
        const auto restore = [&](std::uint8_t reg, std::uint64_t at) {
            const auto value = dump.read64(at);
            return value ? (caller.r[reg] = *value, true) : false;
        };
        for (int i = 0; i < count; i += slots(codes[i] >> 8 & 0xF, codes[i] >> 12)) {
            const std::uint8_t codeOffset = codes[i] & 0xFF, op = codes[i] >> 8 & 0xF, info = codes[i] >> 12;
            if (i + slots(op, info) > count) {
                return std::nullopt;
            }
            if (codeOffset > done) {
                continue;
            }
            const std::uint32_t next = codes[i + 1], far = next | std::uint32_t(codes[i + 2]) << 16;
            bool ok = true;
            switch (op) {
            case kPushNonVolatile:
                ok = pop(caller.r[info]);
                break;
            case kAllocLarge:
                caller.r[Registers::kRsp] += info == 0 ? 8u * next : far;
                break;
            case kAllocSmall:
                caller.r[Registers::kRsp] += 8u * info + 8;
                break;
            case kSetFramePointer:
                caller.r[Registers::kRsp] = frame;
                break;
            case kSaveNonVolatile:
                ok = restore(info, frame + 8u * next);
                break;
            case kSaveNonVolatileFar:
                ok = restore(info, frame + far);
                break;
            case kSaveXmm128:
            case kSaveXmm128Far:
            case kEpilog:
                break; // nothing the walk needs
            case kPushMachineFrame: {
                const std::uint64_t base = caller.r[Registers::kRsp] + (info != 0 ? 8 : 0);
                const auto rip = dump.read64(base), rsp = dump.read64(base + 24);
                ok = rip && rsp;
                if (ok) {
                    caller.rip = *rip;
                    caller.r[Registers::kRsp] = *rsp;
                    machineFrame = true;
                }
                break;
            }
            default:
                return std::nullopt;
            }
            if (!ok) {
                return std::nullopt;
            }
        }
        if ((flags & kChainedInfo) == 0) {
            break;
        }
        // The parent entry follows the (even) code array; its prologue is complete.
        const std::size_t parent = (count + 1) & ~1;
        function = RuntimeFunction{codes[parent] | std::uint32_t(codes[parent + 1]) << 16,
                                   codes[parent + 2] | std::uint32_t(codes[parent + 3]) << 16,
                                   codes[parent + 4] | std::uint32_t(codes[parent + 5]) << 16};
        if (chain + 1 == kMaxChain) {
            return std::nullopt;
        }
    }
    if (!machineFrame && !pop(caller.rip)) {
        return std::nullopt;
    }
    return caller;
}

std::vector<Frame> walkStack(const Minidump& dump, const Images& images, const Registers& start,
                             std::size_t maxFrames) {
    const auto imageAt = [&](std::uint64_t address) -> std::pair<const Module*, const PeImage*> {
        const Module* module = dump.moduleAt(address);
        const auto found = module != nullptr ? images.find(module->base) : images.end();
        return {module, found != images.end() ? found->second : nullptr};
    };
    // Where a return address may point: a module without an image, or after a call in one.
    const auto returnsIntoCode = [&](std::uint64_t address) {
        const auto [module, image] = imageAt(address);
        return image != nullptr ? followsCall(*image, static_cast<std::uint32_t>(address - module->base))
                                : module != nullptr;
    };
    std::vector<Frame> frames;
    Registers registers = start;
    Frame::Found found = Frame::Found::kContext;
    while (frames.size() < maxFrames && registers.rip != 0) {
        const Frame frame{registers.rip, registers.rsp(), found};
        frames.push_back(frame);
        const auto [module, image] = imageAt(frame.site());
        if (image != nullptr) {
            const auto caller =
                unwindFrame(registers, module->base, found == Frame::Found::kContext, *image, dump);
            if (caller && caller->rsp() > registers.rsp()) {
                registers = *caller;
                found = Frame::Found::kUnwound;
                continue;
            }
        }
        // No unwind data here: the next return address into an image on the stack.
        const auto range = dump.rangeAt(registers.rsp());
        if (!range) {
            break;
        }
        const std::uint64_t end = std::min(range->first + range->second, registers.rsp() + kScanWindow);
        const auto callee = static_cast<std::uint32_t>(frame.site() - (module != nullptr ? module->base : 0));
        bool scanned = false;
        for (std::uint64_t slot = registers.rsp(); slot + 8 <= end && !scanned; slot += 8) {
            const std::uint64_t value = dump.read64(slot).value_or(0);
            const auto [target, targetImage] = imageAt(value);
            const auto rva = static_cast<std::uint32_t>(value - (target ? target->base : 0));
            if (targetImage == nullptr || !followsCall(*targetImage, rva) ||
                !mayHaveCalled(*targetImage, rva, image, callee)) {
                continue;
            }
            // A stale return address left by an earlier call often passes that
            // test; its frame then unwinds to nowhere.
            Registers candidate = registers;
            candidate.rip = value;
            candidate.r[Registers::kRsp] = slot + 8;
            const auto caller = unwindFrame(candidate, target->base, false, *targetImage, dump);
            if (caller && returnsIntoCode(caller->rip)) {
                registers = candidate;
                scanned = true;
            }
        }
        if (!scanned) {
            break;
        }
        found = Frame::Found::kScanned;
    }
    return frames;
}

} // namespace qv::dump
