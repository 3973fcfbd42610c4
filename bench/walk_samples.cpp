// Walks a folder into a sample set, as the load button does, and prints the number of samples
// and the memory it took. Usage: walk_samples <folder>
#include <malloc.h>

#include <cstdio>

#include "samples/folder_scan.h"
#include "samples/loading.h"
#include "samples/working_state.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    // Heap in use, small blocks and mapped ones (the lists' own storage) together.
    const auto heap = [] {
        const auto info = mallinfo2();
        return info.uordblks + info.hblkhd;
    };
    const auto before = heap();
    sorvane::SampleSet samples;
    sorvane::scanFolder(argv[1], "", true, [&samples](std::string name, std::string path) {
        sorvane::onSampleFound(samples, std::move(name), std::move(path));
    });
    const auto after = heap();
    const auto count = samples.size();
    std::printf("%lld samples, %.1f bytes of heap per sample\n", static_cast<long long>(count),
                count ? static_cast<double>(after - before) / static_cast<double>(count) : 0.0);
    return 0;
}
