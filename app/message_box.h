// The tool's one message box, behind a seam so that tests can see and dismiss it.
#pragma once

#include <functional>
#include <string>

namespace sorvane {

// A modal box with one OK button and no icon, owned by no window; returns once dismissed.
void showMessageBox(const std::string& text, const std::string& title);

// While set, showMessageBox hands its text and title to `interceptor` instead of showing a box.
using MessageInterceptor = std::function<void(const std::string& text, const std::string& title)>;
void setMessageInterceptor(MessageInterceptor interceptor);

}  // namespace sorvane
