// The main window: its fourteen components, their events bound to the tool's operations, and
// the window operations those operations call back.
#pragma once

#include <QWidget>
#include <array>
#include <vector>

#include "app/window_operations.h"
#include "samples/working_state.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace sorvane {

class PictureBox;

class MainWindow : public QWidget, public WindowOperations {
public:
    static constexpr int kClientWidth = 435;
    static constexpr int kClientHeight = 398;
    static constexpr int kPaneCount = 6;

    // `state` must outlive the window.
    explicit MainWindow(WorkingState& state);
    ~MainWindow() override;

    // Window operations.
    std::vector<ButtonId> pushButtons() const override;
    ButtonId loadButton() const override;
    std::string tag(ButtonId button) const override;
    std::string caption(ButtonId button) const override;
    void setCaption(ButtonId button, const std::string& caption) override;
    std::string sampleFolderText() const override;
    void setPicture(const std::vector<std::uint8_t>& bytes) override;
    void setPaneText(int pane, const std::string& text) override;
    void showMessage(const std::string& text, const std::string& title) override;
    void processPendingEvents() override;
    void setLabelWarning(const std::string& fullLabel) override;
    std::string labelWarning() const override;
    void setBusy(bool busy) override;

    // Components, for tests and start-up.
    QPushButton* button(ButtonId id) const { return buttons_.at(static_cast<std::size_t>(id)); }
    QLabel* pane(int index) const { return panes_.at(static_cast<std::size_t>(index)); }
    PictureBox* pictureBox() const { return pictureBox_; }
    QLineEdit* folderEdit() const { return folderEdit_; }

    // Puts the window in the middle of the primary screen.
    void centreOnScreen();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPushButton* addButton(const char* name, int left, int top, int width, int height,
                           const char* caption, const char* tag);
    void createComponents();
    void bindEvents();
    void bindKeys();
    void load();

    WorkingState& state_;
    std::vector<QPushButton*> buttons_;  // every push button, in component order
    QPushButton* loadButton_ = nullptr;
    QLineEdit* folderEdit_ = nullptr;
    PictureBox* pictureBox_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    std::array<QLabel*, kPaneCount> panes_{};
    std::string labelWarning_;
};

}  // namespace sorvane
