#include "samples/loading.h"

#include "app/files.h"
#include "samples/folder_scan.h"
#include "samples/resume_point.h"

namespace sorvane {

std::string outputFolder(const std::string& runDirectory) {
    return runDirectory + "/samples_new";
}

std::string defaultSampleFolder(const std::string& runDirectory) {
    return runDirectory + "/samples";
}

bool ensureDirectory(const std::string& path) {
    return files::makeDirectoryPath(path);
}

void onSampleFound(SampleSet& samples, std::string name, std::string path) {
    samples.samplePaths.push_back(std::move(path));
    samples.sampleNames.push_back(std::move(name));
}

bool loadSamples(WorkingState& state, WindowOperations& ops) {
    const std::string output = outputFolder(state.runDirectory);
    if (!files::isDirectory(output)) {
        ensureDirectory(output);  // made again on every load if it went away
    }

    const std::uint64_t generation = ++state.loadGeneration;
    releaseWorkingState(state);

    const std::string typed = ops.sampleFolderText();
    const std::string folder = typed.empty() ? defaultSampleFolder(state.runDirectory) : typed;
    {
        BusyScope busy(ops);
        const bool completed = scanFolder(
            folder, "", true,
            [&state](std::string name, std::string path) {
                onSampleFound(state.samples, std::move(name), std::move(path));
            },
            [&state, &ops, generation] {
                ops.processPendingEvents();
                return state.loadGeneration == generation && !state.closing;
            });
        if (!completed) {
            return false;
        }
    }

    ops.setPaneText(1, "载入成功");
    ops.setPaneText(3, std::to_string(state.samples.size()));
    ops.setCaption(ops.loadButton(), "重新加载");
    state.position = readResumePoint(state.runDirectory);
    ops.setPaneText(5, std::to_string(state.position));
    return true;
}

}  // namespace sorvane
