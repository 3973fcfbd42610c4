// The whole working cycle through the real main window: load, show, toggle, save, step, resume.
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <climits>

#include "app/picture_box.h"
#include "imaging/image.h"
#include "output/digest.h"
#include "window_fixture.h"

namespace sorvane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A small picture whose pixels depend on `seed`, so different samples never look alike.
QImage pattern(int seed, int width = 40, int height = 16) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(
                x, y,
                qRgb((x * 7 + seed * 50) % 256, (y * 13 + seed * 30) % 256, (x * y + seed) % 256));
        }
    }
    return image;
}

Bytes encoded(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(data.begin(), data.end());
}

std::vector<std::string> listed(const std::deque<std::string>& list) {
    return {list.begin(), list.end()};
}

class CycleTest : public test::WindowTest {
protected:
    // Writes a PNG sample below the default sample folder; returns its bytes.
    Bytes addSample(const std::string& relative, int seed) {
        Bytes bytes = encoded(pattern(seed), "PNG");
        run.write("samples/" + relative, bytes);
        return bytes;
    }
    void load() { named("按钮_载入")->click(); }
    void next() { named("按钮8")->click(); }
    void previous() { named("按钮1")->click(); }
    void toggle(int index) { window->button(characterButtons(*window).at(index))->click(); }

    std::vector<std::string> captions() const {
        std::vector<std::string> out;
        for (const ButtonId id : characterButtons(*window)) {
            out.push_back(window->caption(id));
        }
        return out;
    }
    std::vector<std::string> outputs() const {
        std::vector<std::string> names;
        if (fs::is_directory(run.path() / "samples_new")) {
            for (const auto& entry : fs::directory_iterator(run.path() / "samples_new")) {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string outputName(const std::string& label, const Bytes& source) {
        return label + "_" + md5Hex(source) + ".bmp";
    }
    // The output is a BMP holding exactly the picture the source decodes to.
    void expectSamePicture(const std::string& outputFile, const Bytes& source) const {
        const auto written = test::readFile(run.path() / "samples_new" / outputFile);
        ASSERT_GE(written.size(), 2u);
        EXPECT_EQ(written[0], 'B');
        EXPECT_EQ(written[1], 'M');
        const auto out = imaging::decode(written);
        const auto in = imaging::decode(source);
        ASSERT_TRUE(out && in);
        EXPECT_EQ(out->width(), in->width());
        EXPECT_EQ(out->height(), in->height());
        EXPECT_TRUE(out->frames.front().rgba == in->frames.front().rgba);
    }
    std::size_t messageCount() const { return messages.size(); }
    bool lastMessageIsEndOfList() const {
        return !messages.empty() && messages.back().first == "系统提示" &&
               messages.back().second == "没有图片了";
    }
    bool pictureShown() const { return !window->pictureBox()->currentFrame().isNull(); }
};

using Captions = std::vector<std::string>;

TEST_F(CycleTest, ThreeSamplesFromStartToEndAndBack) {
    const Bytes first = addSample("aB3x_0001.png", 1);
    const Bytes second = addSample("Cd_0002.png", 2);
    const Bytes third = addSample("xyz9_0003.png", 3);
    load();
    EXPECT_EQ(paneText(1), "载入成功");
    EXPECT_EQ(paneText(3), "3");
    EXPECT_EQ(paneText(5), "0");
    EXPECT_EQ(named("按钮_载入")->text().toStdString(), "重新加载");
    EXPECT_TRUE(fs::is_directory(run.path() / "samples_new"));

    next();  // shows sample 1, saves nothing
    EXPECT_EQ(state.position, 1);
    EXPECT_EQ(captions(), (Captions{"a", "B", "3", "x", "", ""}));
    EXPECT_TRUE(pictureShown());
    EXPECT_EQ(window->pictureBox()->currentFrame().pixel(5, 3), pattern(1).pixel(5, 3));
    EXPECT_TRUE(outputs().empty());
    EXPECT_EQ(paneText(5), "0");

    next();  // saves 1, shows 2
    EXPECT_EQ(paneText(5), "1");
    EXPECT_EQ(captions(), (Captions{"C", "d", "", "", "", ""}));
    next();  // saves 2, shows 3
    EXPECT_EQ(paneText(5), "2");
    EXPECT_EQ(captions(), (Captions{"x", "y", "z", "9", "", ""}));
    EXPECT_TRUE(messages.empty());

    next();  // saves 3, end of list
    EXPECT_EQ(state.position, 4);
    EXPECT_EQ(paneText(5), "3");
    EXPECT_TRUE(lastMessageIsEndOfList());
    EXPECT_EQ(captions(), (Captions{"x", "y", "z", "9", "", ""}));  // display stays
    const std::vector<std::string> expected = [&] {
        std::vector<std::string> names = {outputName("aB3x", first), outputName("Cd", second),
                                          outputName("xyz9", third)};
        std::sort(names.begin(), names.end());
        return names;
    }();
    EXPECT_EQ(outputs(), expected);
    expectSamePicture(outputName("aB3x", first), first);
    expectSamePicture(outputName("xyz9", third), third);

    next();  // message only
    EXPECT_EQ(state.position, 5);
    EXPECT_EQ(paneText(5), "3");
    EXPECT_EQ(messageCount(), 2u);
    previous();  // message (4)
    EXPECT_EQ(state.position, 4);
    EXPECT_EQ(messageCount(), 3u);
    previous();  // shows 3
    EXPECT_EQ(state.position, 3);
    EXPECT_EQ(messageCount(), 3u);

    window->close();
    EXPECT_EQ(resumeFile(), "2");
}

TEST_F(CycleTest, FreshStartWithNothingLoaded) {
    next();
    EXPECT_EQ(state.position, 1);
    EXPECT_TRUE(lastMessageIsEndOfList());
    next();
    EXPECT_EQ(state.position, 2);
    EXPECT_EQ(messageCount(), 2u);
    EXPECT_EQ(paneText(5), "");
    EXPECT_FALSE(fs::exists(run.path() / "samples_new"));
}

struct ResumeCase {
    const char* desc;
    const char* stored;
    std::vector<const char*> presses;  // "n" next, "p" previous
    std::vector<std::int32_t> positions;
    std::vector<bool> messageAfter;
    std::int64_t shownAtEnd;  // sample number whose label is on display, 0 for none
};
void PrintTo(const ResumeCase& c, std::ostream* os) {
    *os << c.desc;
}

class Resume : public CycleTest, public testing::WithParamInterface<ResumeCase> {};

TEST_P(Resume, StepsFromTheStoredValue) {
    const ResumeCase& c = GetParam();
    const char* labels[] = {"AA", "BB", "CC", "DD", "EE"};
    for (int i = 0; i < 5; ++i) {
        addSample(std::string(labels[i]) + "_" + std::to_string(i) + ".png", i);
    }
    run.write("breakpoint.txt", std::string(c.stored));
    load();
    EXPECT_EQ(paneText(5), std::to_string(state.position));
    for (std::size_t i = 0; i < c.presses.size(); ++i) {
        const std::size_t before = messageCount();
        std::string(c.presses[i]) == "n" ? next() : previous();
        EXPECT_EQ(state.position, c.positions[i]) << "press " << i;
        EXPECT_EQ(messageCount() > before, c.messageAfter[i]) << "press " << i;
    }
    const std::string label = c.shownAtEnd ? labels[c.shownAtEnd - 1] : "";
    EXPECT_EQ(captions()[0], label.empty() ? "" : label.substr(0, 1));
    EXPECT_TRUE(outputs().empty());  // the first next of a run has nothing to save under
}

INSTANTIATE_TEST_SUITE_P(
    Values, Resume,
    testing::Values(
        ResumeCase{"two", "2", {"n"}, {3}, {false}, 3},
        ResumeCase{"seven", "7", {"n", "p", "p", "p"}, {8, 7, 6, 5}, {true, true, true, false}, 5},
        ResumeCase{"minus two", "-2", {"n", "n", "n"}, {-1, 0, 1}, {true, true, false}, 1},
        ResumeCase{"int32 max does not overflow",
                   "2147483647",
                   {"n", "p"},
                   {INT32_MAX, INT32_MAX - 1},
                   {true, true},
                   0},
        ResumeCase{"int32 min does not overflow",
                   "-2147483648",
                   {"p", "n"},
                   {INT32_MIN, INT32_MIN + 1},
                   {true, true},
                   0}));

TEST_F(CycleTest, ResumeTwoHandsTheSampleOnToTheWriterAndSetsThePane) {
    for (int i = 1; i <= 5; ++i) {
        addSample("Ab_" + std::to_string(i) + ".png", i);
    }
    run.write("breakpoint.txt", std::string("2"));
    load();
    next();
    EXPECT_EQ(paneText(5), "2");
    EXPECT_EQ(state.position, 3);
}

TEST_F(CycleTest, TogglesNameTheWrittenFile) {
    const Bytes source = addSample("aB3x_0001.png", 4);
    load();
    next();
    toggle(0);  // a -> A
    EXPECT_EQ(captions()[0], "A");
    toggle(1);  // B -> b
    toggle(1);  // b -> B
    toggle(2);  // 3 stays
    EXPECT_EQ(captions(), (Captions{"A", "B", "3", "x", "", ""}));
    toggle(4);  // empty stays empty
    EXPECT_EQ(captions()[4], "");
    next();
    EXPECT_EQ(outputs(), std::vector<std::string>{outputName("AB3x", source)});
    expectSamePicture(outputName("AB3x", source), source);
}

TEST_F(CycleTest, SameSourceTwiceAndCaseOnlyRelabelLeaveOneFile) {
    const Bytes source = addSample("ab3x_1.png", 5);
    addSample("zz_2.png", 6);
    load();
    next();
    next();  // saves ab3x
    previous();
    next();  // saves ab3x again: rewritten, not doubled
    EXPECT_EQ(outputs().size(), 1u);
    previous();
    toggle(0);
    toggle(1);
    next();  // saves AB3x: the old spelling goes
    EXPECT_EQ(outputs(), std::vector<std::string>{outputName("AB3x", source)});
    expectSamePicture(outputName("AB3x", source), source);
}

TEST_F(CycleTest, DifferentLabelsOfTheSameBytesAreKeptApart) {
    const Bytes source = addSample("ab_1.png", 7);
    run.write("samples/cd_2.png", source);
    addSample("zz_3.png", 8);
    load();
    next();
    next();
    next();
    EXPECT_EQ(outputs(),
              (std::vector<std::string>{outputName("ab", source), outputName("cd", source)}));
}

TEST_F(CycleTest, UnreadableOrUndecodableSourceWritesNothing) {
    const Bytes source = addSample("Gone_1.png", 9);
    run.write("samples/Text_2.png", std::string("this is no picture"));
    addSample("zz_3.png", 10);
    load();
    fs::remove(run.path() / "samples/Gone_1.png");
    // An earlier output of that label with the digest of empty bytes is removed all the same.
    run.write("samples_new/" + outputName("Gone", {}), std::string("old"));
    next();
    EXPECT_FALSE(pictureShown());
    EXPECT_EQ(captions(), (Captions{"G", "o", "n", "e", "", ""}));
    next();
    EXPECT_FALSE(pictureShown());
    EXPECT_EQ(captions()[0], "T");
    next();
    EXPECT_TRUE(outputs().empty());
    EXPECT_EQ(paneText(5), "2");
    EXPECT_TRUE(messages.empty());
}

TEST_F(CycleTest, EmptyLabelWritesNothing) {
    addSample("_0001.png", 11);
    load();
    next();
    EXPECT_EQ(captions(), Captions(6, ""));
    next();
    EXPECT_TRUE(outputs().empty());
    EXPECT_EQ(paneText(5), "1");
}

TEST_F(CycleTest, LabelOverSixCharactersIsMarkedAndNotSaved) {
    addSample("abcdefg_1.png", 12);
    const Bytes six = addSample("Q7.png", 13);  // no "_": the whole name, exactly six
    addSample(
        "\xE4\xB8\xAD"
        "x_3.png",
        14);
    load();
    next();
    EXPECT_EQ(captions(), (Captions{"a", "b", "c", "d", "e", "f"}));
    EXPECT_EQ(window->labelWarning(), "abcdefg");
    const QPushButton* firstButton = window->button(characterButtons(*window)[0]);
    EXPECT_TRUE(firstButton->toolTip().contains(QStringLiteral("abcdefg")));
    EXPECT_NE(firstButton->palette().color(QPalette::Button),
              QApplication::palette().color(QPalette::Button));
    next();  // not written: the label would be cut
    EXPECT_TRUE(outputs().empty());
    EXPECT_EQ(paneText(5), "1");
    EXPECT_EQ(captions(), (Captions{"Q", "7", ".", "p", "n", "g"}));
    EXPECT_EQ(window->labelWarning(), "");
    EXPECT_EQ(firstButton->palette().color(QPalette::Button),
              QApplication::palette().color(QPalette::Button));
    next();
    EXPECT_EQ(outputs(), std::vector<std::string>{outputName("Q7.png", six)});
    EXPECT_EQ(captions(), (Captions{"\xE4\xB8\xAD", "x", "", "", "", ""}));
    toggle(0);
    EXPECT_EQ(captions()[0], "\xE4\xB8\xAD");
}

TEST_F(CycleTest, ReloadInTheMiddleClearsTheDisplay) {
    addSample("aa_1.png", 15);
    addSample("bb_2.png", 16);
    run.write("breakpoint.txt", std::string("1"));
    load();
    next();  // saves nothing (fresh captions), shows sample 2
    EXPECT_EQ(captions()[0], "b");
    load();  // position back to 1; what is on display belongs to no sample now
    EXPECT_EQ(state.position, 1);
    EXPECT_EQ(captions(), Captions(6, ""));
    EXPECT_FALSE(pictureShown());
    next();  // would have written sample 1's picture under "bb"
    EXPECT_TRUE(outputs().empty());
    EXPECT_EQ(captions()[0], "b");
}

TEST_F(CycleTest, OutputFolderIsMadeAgainOnEveryLoad) {
    load();
    ASSERT_TRUE(fs::is_directory(run.path() / "samples_new"));
    fs::remove(run.path() / "samples_new");
    load();
    EXPECT_TRUE(fs::is_directory(run.path() / "samples_new"));
}

TEST_F(CycleTest, TypedFoldersAreTakenAsTyped) {
    run.write("data/b_2.png", encoded(pattern(1), "PNG"));
    run.write("data/sub/c_3.png", encoded(pattern(2), "PNG"));
    run.write("data/b_10.png", encoded(pattern(3), "PNG"));
    window->folderEdit()->setText(QString::fromStdString(run.str() + "/data/"));
    load();
    EXPECT_EQ(listed(state.samples.samplePaths),
              (std::vector<std::string>{run.str() + "/data/b_2.png", run.str() + "/data/b_10.png",
                                        run.str() + "/data/sub/c_3.png"}));
    EXPECT_EQ(listed(state.samples.sampleNames),
              (std::vector<std::string>{"b_2.png", "b_10.png", "c_3.png"}));

    window->folderEdit()->setText(QStringLiteral("   "));
    load();
    EXPECT_EQ(paneText(1), "载入成功");
    EXPECT_EQ(paneText(3), "0");

    // A relative path resolves against the current directory, which start-up makes the run one.
    const auto before = fs::current_path();
    fs::current_path(run.path());
    window->folderEdit()->setText(QStringLiteral("data"));
    load();
    fs::current_path(before);
    EXPECT_EQ(state.samples.samplePaths.front(), "data/b_2.png");
}

TEST_F(CycleTest, LinkCyclesAndFifosDoNotStopTheLoad) {
    addSample("a_1.png", 17);
    addSample("sub/b_2.png", 18);
    ASSERT_EQ(::symlink("..", (run.str() + "/samples/sub/loop").c_str()), 0);
    ASSERT_EQ(::mkfifo((run.str() + "/samples/sub/pipe_3.png").c_str(), 0600), 0);
    load();
    EXPECT_EQ(paneText(3), "2");
}

TEST_F(CycleTest, ALoadStartedDuringThePauseWins) {
    for (const char* file : {"a_1.png", "one/b_2.png", "two/c_3.png", "three/d_4.png"}) {
        addSample(file, 19);
    }
    int nested = 0;
    QTimer::singleShot(0, window.get(), [&] {
        ++nested;
        load();  // runs inside the first load's pause after its first subfolder
    });
    load();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(state.samples.size(), 4);  // no sample listed twice
    EXPECT_EQ(paneText(3), "4");
    std::vector<std::string> names = listed(state.samples.sampleNames);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
}

TEST_F(CycleTest, ACloseDuringThePauseWritesTheResumePointAndStopsTheLoad) {
    addSample("a_1.png", 20);
    addSample("one/b_2.png", 21);
    addSample("two/c_3.png", 22);
    state.position = 6;
    QTimer::singleShot(0, window.get(), [&] { window->close(); });
    load();
    EXPECT_EQ(resumeFile(), "5");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(paneText(1), "未载入");  // nothing more updated after the close
    EXPECT_EQ(named("按钮_载入")->text().toStdString(), "载入");
    EXPECT_EQ(state.position, 6);
}

TEST_F(CycleTest, KeysStepAndToggleUnlessTypingInThePathBox) {
    addSample("ab_1.png", 23);
    addSample("cd_2.png", 24);
    addSample("ef_3.png", 25);
    window->activateWindow();
    QLineEdit* edit = window->folderEdit();
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);  // Enter in the path box loads
    EXPECT_EQ(paneText(1), "载入成功");
    QTest::keyClicks(edit, "1");
    QTest::keyClick(edit, Qt::Key_Right);
    QTest::keyClick(edit, Qt::Key_PageDown);
    EXPECT_EQ(state.position, 0);
    EXPECT_EQ(edit->text(), "1");
    edit->clear();

    QPushButton* focus = named("按钮8");
    focus->setFocus();
    QTest::keyClick(focus, Qt::Key_Right);
    EXPECT_EQ(state.position, 1);
    QTest::keyClick(focus, Qt::Key_PageDown);
    EXPECT_EQ(state.position, 2);
    QTest::keyClick(focus, Qt::Key_1);
    EXPECT_EQ(captions()[0], "C");
    QTest::keyClick(focus, Qt::Key_2);
    EXPECT_EQ(captions()[1], "D");
    QTest::keyClick(focus, Qt::Key_1, Qt::KeypadModifier);
    EXPECT_EQ(captions()[0], "c");
    QTest::keyClick(focus, Qt::Key_Left);
    EXPECT_EQ(state.position, 1);
    QTest::keyClick(focus, Qt::Key_PageUp);
    EXPECT_EQ(state.position, 0);
    EXPECT_TRUE(lastMessageIsEndOfList());
    for (const ButtonId id : window->pushButtons()) {
        if (window->tag(id) != "0") {
            EXPECT_FALSE(window->button(id)->toolTip().isEmpty());
        }
    }
    EXPECT_TRUE(named("按钮8")->toolTip().contains(QStringLiteral("Page Down")));
    EXPECT_TRUE(named("按钮1")->toolTip().contains(QStringLiteral("Page Up")));
}

}  // namespace
}  // namespace sorvane
