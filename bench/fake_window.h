// Window operations without a window: captions in memory, pictures decoded but never painted.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/window_operations.h"
#include "imaging/image.h"

namespace sorvane::bench {

class FakeWindow : public WindowOperations {
public:
    FakeWindow() {
        tags_ = {"0", "0", "0", "7", "6", "5", "3", "4", "2", "0"};
        captions_.resize(tags_.size());
    }
    std::vector<ButtonId> pushButtons() const override { return {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}; }
    ButtonId loadButton() const override { return 9; }
    std::string tag(ButtonId b) const override { return tags_[static_cast<std::size_t>(b)]; }
    std::string caption(ButtonId b) const override {
        return captions_[static_cast<std::size_t>(b)];
    }
    void setCaption(ButtonId b, const std::string& c) override {
        captions_[static_cast<std::size_t>(b)] = c;
    }
    std::string sampleFolderText() const override { return folder; }
    void setPicture(const std::vector<std::uint8_t>& bytes) override {
        picture = imaging::decode(bytes);  // the decode a real window does, without the paint
    }
    void setPaneText(int, const std::string&) override {}
    void showMessage(const std::string&, const std::string&) override {}
    void processPendingEvents() override {}
    void setLabelWarning(const std::string& label) override { warning_ = label; }
    std::string labelWarning() const override { return warning_; }
    void setBusy(bool) override {}

    std::string folder;
    std::optional<imaging::Image> picture;

private:
    std::vector<std::string> tags_;
    std::vector<std::string> captions_;
    std::string warning_;
};

}  // namespace sorvane::bench
