#include "app/message_box.h"

#include <QMessageBox>

namespace sorvane {
namespace {

MessageInterceptor& interceptor() {
    static MessageInterceptor current;  // the test seam; empty in the running tool
    return current;
}

}  // namespace

void setMessageInterceptor(MessageInterceptor replacement) {
    interceptor() = std::move(replacement);
}

void showMessageBox(const std::string& text, const std::string& title) {
    if (interceptor()) {
        interceptor()(text, title);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace sorvane
