#include "app/startup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cstring>
#include <exception>
#include <memory>

#include "app/files.h"
#include "app/main_window.h"
#include "samples/working_state.h"

namespace sorvane {
namespace {

constexpr const char* kFatalTitle = "错误";
constexpr const char* kFatalReport = "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n";

// Written by the signal handler, read by the event loop: the only way out of a handler.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(signalPipe[1], &byte, 1);
}

QtMessageHandler defaultMessageHandler = nullptr;

// Qt aborts when it finds no window system; the tool reports that and ends with -1 instead.
void reportFatalMessages(QtMsgType type, const QMessageLogContext& context,
                         const QString& message) {
    if (type == QtFatalMsg) {
        [[maybe_unused]] const auto ignored =
            ::write(STDERR_FILENO, kFatalReport, std::strlen(kFatalReport));
        ::_exit(kFatalExitCode);
    }
    if (defaultMessageHandler) {
        defaultMessageHandler(type, context, message);
    }
}

[[noreturn]] void failWithReport() {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kFatalTitle),
                    QString::fromUtf8(kFatalReport), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    ::_exit(kFatalExitCode);  // without the exit routine and without writing the resume point
}

// Log-off, shut-down and Ctrl+C close the window the orderly way, so progress is kept.
std::unique_ptr<QSocketNotifier> closeOnTerminationSignals(MainWindow& window) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return nullptr;
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        ::sigaction(signal, &action, nullptr);
    }
    auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&window] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        window.close();
        QApplication::closeAllWindows();  // a message box open at that moment goes too
    });
    return notifier;
}

}  // namespace

const char* fatalReportText() {
    return kFatalReport;
}

int runApplication(int argc, char** argv) {
    WorkingState state;
    state.runDirectory = files::executableDirectory();
    files::changeDirectory(state.runDirectory);
    initWorkingState(state);

    defaultMessageHandler = qInstallMessageHandler(reportFatalMessages);
    QApplication application(argc, argv);
    qInstallMessageHandler(defaultMessageHandler);

    std::unique_ptr<MainWindow> window;
    try {
        window = std::make_unique<MainWindow>(state);
    } catch (const std::exception&) {
        failWithReport();
    }
    const auto signalNotifier = closeOnTerminationSignals(*window);
    window->show();
    QApplication::exec();

    releaseWorkingState(state);
    return 0;
}

}  // namespace sorvane
