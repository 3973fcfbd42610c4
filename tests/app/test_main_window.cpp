#include <QBuffer>
#include <QLineEdit>
#include <QStatusBar>
#include <QTest>

#include "app/picture_box.h"
#include "window_fixture.h"

namespace sorvane {
namespace {

using test::WindowTest;

struct Component {
    const char* name;
    const char* kind;
    QRect rect;
    const char* text;
    const char* tag;
    bool focusStop;
};

// The form, in component order.
const Component kForm[] = {
    {"按钮_清除断点", "按钮", {368, 15, 64, 33}, "清除断点", "0", true},
    {"按钮1", "按钮", {104, 305, 104, 40}, "上一张", "0", true},
    {"状态条1", "状态条", {0, 378, 435, 20}, "", "", false},
    {"编辑框_样本路径", "编辑框", {68, 16, 212, 32}, "", "", true},
    {"标签1", "标签", {8, 24, 72, 16}, "样本路径：", "", false},
    {"按钮8", "按钮", {251, 306, 104, 40}, "下一张", "0", true},
    {"按钮7", "按钮", {24, 215, 40, 40}, "", "7", true},
    {"按钮6", "按钮", {92, 215, 40, 40}, "", "6", true},
    {"按钮5", "按钮", {159, 215, 40, 40}, "", "5", true},
    {"按钮4", "按钮", {229, 215, 40, 40}, "", "3", true},
    {"按钮3", "按钮", {296, 215, 40, 40}, "", "4", true},
    {"按钮2", "按钮", {363, 215, 40, 40}, "", "2", true},
    {"按钮_载入", "按钮", {288, 15, 72, 33}, "载入", "0", true},
    {"图片框1", "图片框", {22, 66, 386, 112}, "", "", false},
};

QString textOf(QWidget* widget) {
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        return button->text();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return edit->text();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    return {};
}

TEST_F(WindowTest, ComponentsFollowTheFormInOrder) {
    std::vector<QWidget*> components;
    for (QObject* child : window->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child)) {
            components.push_back(widget);
        }
    }
    ASSERT_EQ(components.size(), std::size(kForm));
    for (std::size_t i = 0; i < components.size(); ++i) {
        const Component& expected = kForm[i];
        QWidget* widget = components[i];
        SCOPED_TRACE(expected.name);
        EXPECT_EQ(widget->objectName().toStdString(), expected.name);
        EXPECT_EQ(widget->property("kind").toString().toStdString(), expected.kind);
        EXPECT_EQ(widget->geometry(), expected.rect);
        EXPECT_EQ(textOf(widget).toStdString(), expected.text);
        EXPECT_EQ(widget->property("tag").toString().toStdString(), expected.tag);
        EXPECT_EQ(widget->focusPolicy() != Qt::NoFocus, expected.focusStop);
        EXPECT_TRUE(widget->isVisible());
        EXPECT_TRUE(widget->isEnabled());
    }
}

TEST_F(WindowTest, PushButtonsEnumerateInComponentOrder) {
    std::vector<std::string> names;
    for (const ButtonId id : window->pushButtons()) {
        names.push_back(window->button(id)->objectName().toStdString());
    }
    const std::vector<std::string> expected = {"按钮_清除断点", "按钮1",    "按钮8", "按钮7",
                                               "按钮6",         "按钮5",    "按钮4", "按钮3",
                                               "按钮2",         "按钮_载入"};
    EXPECT_EQ(names, expected);
    std::vector<std::string> characters;
    for (const ButtonId id : characterButtons(*window)) {
        characters.push_back(window->button(id)->objectName().toStdString());
    }
    EXPECT_EQ(characters, std::vector<std::string>(expected.begin() + 3, expected.begin() + 9));
    EXPECT_EQ(window->button(window->loadButton())->objectName().toStdString(), "按钮_载入");
}

TEST_F(WindowTest, CharacterButtonsHaveTheirOwnFont) {
    for (const ButtonId id : window->pushButtons()) {
        const QFont font = window->button(id)->font();
        if (window->tag(id) != "0") {
            EXPECT_EQ(font.pixelSize(), 16);
            EXPECT_EQ(font.weight(), QFont::Normal);
            EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut());
            EXPECT_EQ(font.family(), QApplication::font().family());
        } else {
            EXPECT_EQ(font, QApplication::font());
        }
        EXPECT_FALSE(window->button(id)->isDefault());
        EXPECT_FALSE(window->button(id)->autoDefault());
    }
}

TEST_F(WindowTest, WindowIsFixedAndCaptioned) {
    EXPECT_EQ(window->windowTitle(), "Sorvane");
    EXPECT_EQ(window->size(), QSize(435, 398));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_TRUE(window->windowIcon().availableSizes().contains(QSize(48, 48)));
    window->resize(600, 600);
    EXPECT_EQ(window->size(), QSize(435, 398));
}

TEST_F(WindowTest, StatusPanesStartWithTheirTextsAndIgnoreUnknownIndexes) {
    const char* initial[] = {"载入状态：", "未载入", "总样本", "0", "已处理", ""};
    const int widths[] = {70, 80, 50, 80, 50};
    for (int i = 0; i < MainWindow::kPaneCount; ++i) {
        EXPECT_EQ(paneText(i), initial[i]) << i;
        EXPECT_EQ(window->pane(i)->frameShadow(), QFrame::Sunken);
        if (i < 5) {
            EXPECT_EQ(window->pane(i)->width(), widths[i]) << i;
        }
    }
    EXPECT_FALSE(window->findChild<QStatusBar*>()->isSizeGripEnabled());
    window->setPaneText(6, "x");
    window->setPaneText(-1, "x");
    for (int i = 0; i < MainWindow::kPaneCount; ++i) {
        EXPECT_EQ(paneText(i), initial[i]) << i;
    }
    window->setPaneText(5, "12");
    EXPECT_EQ(paneText(5), "12");
}

TEST_F(WindowTest, CaptionsReadBackExactBytes) {
    const ButtonId first = characterButtons(*window).front();
    for (const std::string caption : {"a", "\xE4\xB8\xAD", "\xC3", "\x80", "\r\n", ""}) {
        window->setCaption(first, caption);
        EXPECT_EQ(window->caption(first), caption);
    }
}

TEST_F(WindowTest, PictureSitsTopLeftClippedOnTheFaceColour) {
    PictureBox* box = window->pictureBox();
    EXPECT_EQ(box->contentsRect(), QRect(1, 1, 384, 110));
    // A picture larger than the drawing area, one pixel colour per quadrant.
    QImage picture(500, 200, QImage::Format_RGB32);
    picture.fill(Qt::red);
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 500; ++x) {
            if (x >= 384 || y >= 110) {
                picture.setPixel(x, y, qRgb(0, 0, 255));  // only this part lies outside
            }
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    window->setPicture(std::vector<std::uint8_t>(png.begin(), png.end()));
    const QImage shown = box->grab().toImage();
    EXPECT_EQ(shown.size(), QSize(386, 112));
    for (const QPoint inside : {QPoint(1, 1), QPoint(384, 110), QPoint(200, 50)}) {
        EXPECT_EQ(shown.pixelColor(inside), QColor(Qt::red)) << inside.x() << "," << inside.y();
    }

    // A small picture leaves the face colour around it.
    QImage small(10, 5, QImage::Format_RGB32);
    small.fill(Qt::green);
    png.clear();
    buffer.seek(0);
    small.save(&buffer, "PNG");
    window->setPicture(std::vector<std::uint8_t>(png.begin(), png.end()));
    const QImage shownSmall = box->grab().toImage();
    EXPECT_EQ(shownSmall.pixelColor(1, 1), QColor(Qt::green));
    EXPECT_EQ(shownSmall.pixelColor(10, 5), QColor(Qt::green));
    EXPECT_EQ(shownSmall.pixelColor(11, 1), box->palette().color(QPalette::Window));
    EXPECT_EQ(shownSmall.pixelColor(1, 6), box->palette().color(QPalette::Window));

    // Text bytes are no picture: background only, no message.
    const std::string text = "not a picture at all";
    window->setPicture(std::vector<std::uint8_t>(text.begin(), text.end()));
    EXPECT_TRUE(box->currentFrame().isNull());
    EXPECT_EQ(box->grab().toImage().pixelColor(1, 1), box->palette().color(QPalette::Window));
    EXPECT_TRUE(messages.empty());
}

TEST_F(WindowTest, CloseWritesTheResumePoint) {
    state.position = 5;
    window->close();
    EXPECT_EQ(resumeFile(), "4");
    EXPECT_TRUE(state.closing);
}

TEST_F(WindowTest, EscapeClosesFromAnyComponentLikeTheCloseButton) {
    for (QWidget* focus :
         std::initializer_list<QWidget*>{named("按钮8"), window->folderEdit(), named("按钮7")}) {
        state.position = 3;
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Escape);
        EXPECT_FALSE(window->isVisible()) << focus->objectName().toStdString();
        EXPECT_EQ(resumeFile(), "2");
        std::filesystem::remove(run.path() / "breakpoint.txt");
    }
    // With a modifier it is not the close key.
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(named("按钮8"), Qt::Key_Escape, Qt::ShiftModifier);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowTest, ClearThenCloseWritesZero) {
    state.position = 9;
    named("按钮_清除断点")->click();
    EXPECT_EQ(state.position, 0);
    EXPECT_EQ(paneText(5), "0");
    window->close();
    EXPECT_EQ(resumeFile(), "0");
}

TEST_F(WindowTest, NothingIsReadOrScannedAtStartUp) {
    EXPECT_TRUE(state.samples.samplePaths.empty());
    EXPECT_EQ(state.position, 0);
    EXPECT_FALSE(std::filesystem::exists(run.path() / "samples_new"));
    EXPECT_EQ(paneText(1), "未载入");
}

}  // namespace
}  // namespace sorvane
