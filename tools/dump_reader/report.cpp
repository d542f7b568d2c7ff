#include "tools/dump_reader/report.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <set>

#include "sys/errors/structured_exception_names.h"

namespace qv::dump {

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

// "./app/x.cpp:12" and "./../../app/x.cpp:12" as "app/x.cpp:12". Our builds
// name the compile folder "."; sources are named from the source tree, or,
// where ccache's base_dir made them relative, from the build folder inside it.
std::string tidy(const std::string& place) {
    const auto colon = place.rfind(':');
    std::string file = std::filesystem::path(place.substr(0, colon)).lexically_normal().string();
    while (file.rfind("../", 0) == 0) {
        file.erase(0, 3);
    }
    return file + place.substr(std::min(colon, place.size()));
}

class Describer {
public:
    Describer(const Minidump& dump, const Images& images) : dump_(dump), images_(images) {}

    void want(std::uint64_t address) {
        if (const Module* module = dump_.moduleAt(address);
            module != nullptr && images_.count(module->base)) {
            wanted_[module->base].insert(static_cast<std::uint32_t>(address - module->base));
        }
    }
    void resolve(const Symbolizer& symbolizer) {
        for (const auto& [base, rvas] : wanted_) {
            symbols_[base] = symbolizer(*images_.at(base), {rvas.begin(), rvas.end()});
        }
    }
    // "module+0xoffset", or the bare address outside every module.
    std::string place(std::uint64_t address) const {
        const Module* module = dump_.moduleAt(address);
        return module != nullptr ? module->name() + "+" + hex(address - module->base) : hex(address);
    }
    const Symbolized* symbols(std::uint64_t address) const {
        const Module* module = dump_.moduleAt(address);
        const auto image = module != nullptr ? symbols_.find(module->base) : symbols_.end();
        if (image == symbols_.end()) {
            return nullptr;
        }
        const auto found = image->second.find(static_cast<std::uint32_t>(address - module->base));
        return found != image->second.end() && !found->second.empty() && found->second[0].function != "??"
                   ? &found->second
                   : nullptr;
    }
    void printFrame(std::ostream& out, std::size_t number, const Frame& frame) const {
        out << "  #" << number << "  " << place(frame.site());
        if (const Symbolized* symbolized = symbols(frame.site())) {
            out << "  " << (*symbolized)[0].function << "  " << tidy((*symbolized)[0].place);
            for (std::size_t i = 1; i < symbolized->size(); ++i) {
                out << "\n        inlined in " << (*symbolized)[i].function << "  "
                    << tidy((*symbolized)[i].place);
            }
        }
        out << (frame.found == Frame::Found::kScanned ? "  [scanned]" : "") << "\n";
    }

private:
    const Minidump& dump_;
    const Images& images_;
    std::map<std::uint64_t, std::set<std::uint32_t>> wanted_;
    std::map<std::uint64_t, std::map<std::uint32_t, Symbolized>> symbols_;
};

} // namespace

const Module& moduleOf(const Minidump& dump, const PeImage& image, const std::string& fileName) {
    std::string name = lower(fileName.substr(fileName.find_last_of('/') + 1));
    if (name.size() > 6 && name.compare(name.size() - 6, 6, ".debug") == 0) {
        name.resize(name.size() - 6);
    }
    for (const Module& module : dump.modules()) {
        if (lower(module.name()) == name) {
            if (const std::string mismatch = image.mismatch(module); !mismatch.empty()) {
                throw InputError(kBadDebugFile, mismatch);
            }
            return module;
        }
    }
    throw InputError(kBadDebugFile, fileName + ": the dump has no module named " + name);
}

void printReport(std::ostream& out, const Minidump& dump, const Images& images,
                 const Symbolizer& symbolizer) {
    const auto& exception = dump.exception();
    const std::uint32_t faulting = exception ? exception->threadId : 0;
    // Every stack first, so that each image is looked up once.
    std::map<std::uint32_t, std::vector<Frame>> stacks;
    for (const Thread& thread : dump.threads()) {
        const auto& context = exception && thread.id == faulting ? exception->context : thread.context;
        if (context) {
            stacks[thread.id] = walkStack(dump, images, *context);
        }
    }
    if (exception && !stacks.count(faulting) && exception->context) { // a thread missing from the list
        stacks[faulting] = walkStack(dump, images, *exception->context);
    }
    Describer describer(dump, images);
    for (const auto& [id, frames] : stacks) {
        for (const Frame& frame : frames) {
            describer.want(frame.site());
        }
    }
    if (exception) {
        describer.want(exception->address);
    }
    describer.resolve(symbolizer);

    if (exception) {
        out << "Exception: " << hex8(exception->code) << " " << sys::structuredExceptionName(exception->code)
            << "\n"
            << "Thread:    " << faulting << "\n"
            << "Address:   " << describer.place(exception->address) << "\n";
        // Access violations and in-page errors say what was touched, and how.
        if ((exception->code == 0xC0000005 || exception->code == 0xC0000006) &&
            exception->parameters.size() >= 2) {
            const std::uint64_t kind = exception->parameters[0];
            out << "Access:    "
                << (kind == 0   ? "read of "
                    : kind == 1 ? "write to "
                                : "execution at ")
                << hex(exception->parameters[1]) << "\n";
        }
        out << "\nStack of thread " << faulting << ":\n";
        const auto stack = stacks.find(faulting);
        if (stack == stacks.end() || stack->second.empty()) {
            out << "  (no context for this thread in the dump)\n";
        } else {
            for (std::size_t i = 0; i < stack->second.size(); ++i) {
                describer.printFrame(out, i, stack->second[i]);
            }
        }
    } else {
        out << "Exception: none in the dump\n";
    }

    out << "\nModules:\n";
    for (const Module& module : dump.modules()) {
        const auto image = images.find(module.base);
        out << "  " << hex(module.base) << "  size " << hex(module.size) << "  " << module.path
            << (image != images.end() ? "  symbols: " + image->second->name() : std::string()) << "\n";
    }

    out << "\nOther threads:"
        << (stacks.size() > (exception && stacks.count(faulting) ? 1u : 0u) ? "\n" : " none\n");
    for (const auto& [id, frames] : stacks) {
        if (exception && id == faulting) {
            continue;
        }
        out << "  thread " << id << "\n";
        // The top frame, and the first frame with a name if that is further down.
        const auto named = std::find_if(frames.begin(), frames.end(), [&](const Frame& f) {
            return describer.symbols(f.site()) != nullptr;
        });
        if (!frames.empty()) {
            describer.printFrame(out, 0, frames.front());
        }
        if (named != frames.end() && named != frames.begin()) {
            describer.printFrame(out, named - frames.begin(), *named);
        }
    }
}

} // namespace qv::dump
