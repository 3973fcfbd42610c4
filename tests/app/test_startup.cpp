// Starts the real executable from a copy in a temporary folder, so that its run directory (and
// every file it writes) is that folder and never the build tree.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <QThread>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace sorvane {
namespace {

namespace fs = std::filesystem;

class Executable : public testing::Test {
protected:
    void SetUp() override {
        copy = run.path() / "sorvane";
        fs::copy_file(SORVANE_EXECUTABLE, copy);
    }

    void start(const QProcessEnvironment& environment) {
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory("/");
        process.start(QString::fromStdString(copy.string()), {});
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    // True once the process has put its handler on `signal`: sending it earlier would kill it.
    bool catches(int signal) const {
        std::ifstream status("/proc/" + std::to_string(process.processId()) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigCgt:", 0) == 0) {
                return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1u;
            }
        }
        return false;
    }

    std::string resumeFile() const {
        const auto bytes = test::readFile(run.path() / "breakpoint.txt");
        return {bytes.begin(), bytes.end()};
    }

    test::TempDir run;
    fs::path copy;
    QProcess process;
};

TEST_F(Executable, WithoutADisplayReportsTheFatalErrorAndEndsWith255) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "xcb");
    run.write("breakpoint.txt", std::string("7"));
    start(environment);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);  // no abort
    EXPECT_EQ(process.exitCode(), 255);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(
        errors.contains(QStringLiteral("运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n")))
        << errors.toStdString();
    EXPECT_EQ(resumeFile(), "7");  // the resume point is not written
}

class Signals : public Executable, public testing::WithParamInterface<int> {};

TEST_P(Signals, CloseTheWindowTheOrderlyWay) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    run.write("breakpoint.txt", std::string("7"));
    start(environment);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!catches(GetParam()) && std::chrono::steady_clock::now() < deadline) {
        QThread::msleep(20);
    }
    ASSERT_TRUE(catches(GetParam()));
    // Start-up made the run directory current.
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(process.processId()) + "/cwd"),
              fs::canonical(run.path()));
    ::kill(static_cast<pid_t>(process.processId()), GetParam());
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(resumeFile(), "0");  // nothing loaded: position 0 is what the close stores
}

INSTANTIATE_TEST_SUITE_P(Termination, Signals, testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const testing::TestParamInfo<int>& param) {
                             return std::string(sigabbrev_np(param.param));
                         });

}  // namespace
}  // namespace sorvane
