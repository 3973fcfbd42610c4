// What the tool's logic asks of its window. The Qt main window implements it; tests may use a
// plain fake, so samples/, labelling/ and output/ run without a display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorvane {

// A push button of the main window, as numbered by the window; stable for the window's life.
using ButtonId = int;

class WindowOperations {
public:
    virtual ~WindowOperations() = default;

    // Every push button of the window, each once, in component order.
    virtual std::vector<ButtonId> pushButtons() const = 0;
    // The load button, whose caption a load changes.
    virtual ButtonId loadButton() const = 0;
    // The fixed tag text of a push button.
    virtual std::string tag(ButtonId button) const = 0;
    // A caption reads back exactly the bytes last written, valid UTF-8 or not.
    virtual std::string caption(ButtonId button) const = 0;
    virtual void setCaption(ButtonId button, const std::string& caption) = 0;

    // The sample-folder edit box, exactly as typed.
    virtual std::string sampleFolderText() const = 0;
    // Decodes `bytes` and shows them in the picture box; anything undecodable shows nothing.
    virtual void setPicture(const std::vector<std::uint8_t>& bytes) = 0;
    // Pane 0 ... 5 of the status bar; any other index changes nothing.
    virtual void setPaneText(int pane, const std::string& text) = 0;
    // A modal box with one OK button and no icon; returns once the user has dismissed it.
    virtual void showMessage(const std::string& text, const std::string& title) = 0;
    // Handles every queued input and paint event; a quit request stays queued.
    virtual void processPendingEvents() = 0;

    // Marks the character buttons as holding a label cut to fit them (empty: no mark). The
    // mark reads back, so a cut label is never written as if it were whole.
    virtual void setLabelWarning(const std::string& fullLabel) = 0;
    virtual std::string labelWarning() const = 0;
    // Shows or hides the busy cursor; calls nest.
    virtual void setBusy(bool busy) = 0;
};

// The push buttons whose tag is not "0", in component order: the character buttons, left to
// right on screen. Worked out afresh at every call.
inline std::vector<ButtonId> characterButtons(const WindowOperations& ops) {
    std::vector<ButtonId> buttons;
    for (const ButtonId button : ops.pushButtons()) {
        if (ops.tag(button) != "0") {
            buttons.push_back(button);
        }
    }
    return buttons;
}

// Holds the busy cursor for one scope.
class BusyScope {
public:
    explicit BusyScope(WindowOperations& ops) : ops_(ops) { ops_.setBusy(true); }
    ~BusyScope() { ops_.setBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    WindowOperations& ops_;
};

}  // namespace sorvane
