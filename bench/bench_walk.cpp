// The folder walk: natural ordering of names and a whole walk of a generated tree.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "samples/folder_scan.h"
#include "samples/loading.h"

namespace {

std::vector<std::string> sampleLikeNames(std::size_t count) {
    std::mt19937 random(7);
    const char letters[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof letters - 2);
    std::vector<std::string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string label;
        for (int c = 0; c < 4; ++c) {
            label += letters[pick(random)];
        }
        names.push_back(label + "_" + std::to_string(i) + ".png");
    }
    std::shuffle(names.begin(), names.end(), random);
    return names;
}

void NaturalSort(benchmark::State& state) {
    const auto names = sampleLikeNames(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto copy = names;
        sorvane::sortNaturally(copy);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(NaturalSort)->Arg(1000)->Arg(200000)->Unit(benchmark::kMillisecond);

// A tree of `folders` x `perFolder` empty files under the temporary directory, made once.
std::string tree(int folders, int perFolder) {
    const auto root =
        std::filesystem::temp_directory_path() /
        ("sorvane-bench-tree-" + std::to_string(folders) + "x" + std::to_string(perFolder));
    if (!std::filesystem::exists(root / "done")) {
        const auto names = sampleLikeNames(static_cast<std::size_t>(perFolder));
        for (int f = 0; f < folders; ++f) {
            const auto folder = root / ("batch_" + std::to_string(f));
            std::filesystem::create_directories(folder);
            for (const auto& name : names) {
                ::close(::open((folder / name).c_str(), O_CREAT | O_WRONLY, 0644));
            }
        }
        ::close(::open((root / "done").c_str(), O_CREAT | O_WRONLY, 0644));
    }
    return root.string();
}

void WalkTree(benchmark::State& state) {
    const std::string root =
        tree(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        sorvane::SampleSet samples;
        sorvane::scanFolder(root, "", true, [&](std::string name, std::string path) {
            sorvane::onSampleFound(samples, std::move(name), std::move(path));
        });
        benchmark::DoNotOptimize(samples.samplePaths.back());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(WalkTree)->Args({20, 1000})->Unit(benchmark::kMillisecond);

}  // namespace
