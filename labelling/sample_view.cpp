#include "labelling/sample_view.h"

#include "app/files.h"
#include "labelling/characters.h"

namespace sorvane {

void showSample(const WorkingState& state, WindowOperations& ops, std::int64_t n) {
    const auto index = static_cast<std::size_t>(n - 1);
    ops.setPicture(files::readWholeFile(state.samples.samplePaths[index]));

    const std::string label = labelFromName(state.samples.sampleNames[index]);
    const auto characters = splitCharacters(label);
    const auto buttons = characterButtons(ops);
    for (const ButtonId button : buttons) {
        ops.setCaption(button, "");
    }
    for (std::size_t j = 0; j < characters.size() && j < buttons.size(); ++j) {
        ops.setCaption(buttons[j], characters[j]);
    }
    ops.setLabelWarning(characters.size() > buttons.size() ? label : std::string());
}

void clearSampleDisplay(WindowOperations& ops) {
    ops.setPicture({});
    for (const ButtonId button : characterButtons(ops)) {
        ops.setCaption(button, "");
    }
    ops.setLabelWarning({});
}

void toggleCase(WindowOperations& ops, ButtonId button) {
    const std::string caption = ops.caption(button);
    ops.setCaption(button, isAllUpper(caption) ? toLower(caption) : toUpper(caption));
}

}  // namespace sorvane
