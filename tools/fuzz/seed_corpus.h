// The seed makers' common tail: one file per seed in the corpus folder.

#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace qv::fuzz {

// Writes `<folder>/<prefix>N` for every seed and says how many; the result
// is the seed maker's exit status (1 when a file cannot be written).
inline int writeSeeds(const char* folder, const char* prefix, const std::vector<std::string>& seeds) {
    int count = 0;
    for (const std::string& seed : seeds) {
        const std::string path = std::string(folder) + "/" + prefix + std::to_string(count++);
        std::ofstream out(path, std::ios::binary);
        out << seed;
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    std::printf("%d seeds in %s\n", count, folder);
    return 0;
}

} // namespace qv::fuzz
