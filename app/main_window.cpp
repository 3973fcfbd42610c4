#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>

#include "app/message_box.h"
#include "app/picture_box.h"
#include "labelling/navigation.h"
#include "labelling/sample_view.h"
#include "samples/loading.h"
#include "samples/resume_point.h"

namespace sorvane {
namespace {

constexpr const char* kTagProperty = "tag";
constexpr const char* kKindProperty = "kind";
constexpr const char* kCaptionProperty = "captionBytes";

QString fromBytes(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The window's icon: a 48 x 48 picture of a letter in both cases, drawn here.
QIcon drawIcon() {
    QImage image(48, 48, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2B, 0x6C, 0xB0));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(2, 2, 44, 44), 9, 9);
    QFont font = painter.font();
    font.setPixelSize(24);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, 48, 46), Qt::AlignCenter, QStringLiteral("Aa"));
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

struct PaneSpec {
    int width;  // -1: the rest of the bar
    const char* text;
};
constexpr std::array<PaneSpec, MainWindow::kPaneCount> kPanes{{
    {70, "载入状态："},
    {80, "未载入"},
    {50, "总样本"},
    {80, "0"},
    {50, "已处理"},
    {-1, ""},
}};

}  // namespace

MainWindow::MainWindow(WorkingState& state) : state_(state) {
    setObjectName(QStringLiteral("MainWindow"));
    setProperty(kKindProperty, QStringLiteral("窗口"));
    setWindowTitle(QStringLiteral("Sorvane"));
    // Minimise and close, no maximise; the size is fixed below.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    setWindowIcon(drawIcon());
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    createComponents();
    bindEvents();
    bindKeys();
    centreOnScreen();
    folderEdit_->setFocus();  // the first thing to do is name a folder, or press Enter
}

MainWindow::~MainWindow() = default;

QPushButton* MainWindow::addButton(const char* name, int left, int top, int width, int height,
                                   const char* caption, const char* tag) {
    auto* button = new QPushButton(this);
    button->setObjectName(QString::fromUtf8(name));
    button->setProperty(kKindProperty, QStringLiteral("按钮"));
    button->setProperty(kTagProperty, QString::fromUtf8(tag));
    button->setGeometry(left, top, width, height);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    buttons_.push_back(button);
    setCaption(static_cast<ButtonId>(buttons_.size() - 1), caption);
    return button;
}

void MainWindow::createComponents() {
    // Created in component order: the character buttons are found by it.
    addButton("按钮_清除断点", 368, 15, 64, 33, "清除断点", "0");
    addButton("按钮1", 104, 305, 104, 40, "上一张", "0");

    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QStringLiteral("状态条1"));
    statusBar_->setProperty(kKindProperty, QStringLiteral("状态条"));
    statusBar_->setProperty(kTagProperty, QString());
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setGeometry(0, kClientHeight - 20, kClientWidth, 20);  // docked at the bottom
    statusBar_->setFocusPolicy(Qt::NoFocus);
    statusBar_->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
    for (std::size_t i = 0; i < kPanes.size(); ++i) {
        auto* label = new QLabel(QString::fromUtf8(kPanes[i].text), statusBar_);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (kPanes[i].width > 0) {
            label->setFixedWidth(kPanes[i].width);
            statusBar_->addWidget(label);
        } else {
            statusBar_->addWidget(label, 1);
        }
        panes_[i] = label;
    }

    folderEdit_ = new QLineEdit(this);
    folderEdit_->setObjectName(QStringLiteral("编辑框_样本路径"));
    folderEdit_->setProperty(kKindProperty, QStringLiteral("编辑框"));
    folderEdit_->setProperty(kTagProperty, QString());
    folderEdit_->setGeometry(68, 16, 212, 32);
    folderEdit_->setFocusPolicy(Qt::StrongFocus);

    auto* label = new QLabel(QStringLiteral("样本路径："), this);
    label->setObjectName(QStringLiteral("标签1"));
    label->setProperty(kKindProperty, QStringLiteral("标签"));
    label->setProperty(kTagProperty, QString());
    label->setGeometry(8, 24, 72, 16);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setFocusPolicy(Qt::NoFocus);

    addButton("按钮8", 251, 306, 104, 40, "下一张", "0");

    QFont characterFont = font();
    characterFont.setPixelSize(16);
    characterFont.setWeight(QFont::Normal);
    characterFont.setItalic(false);
    characterFont.setUnderline(false);
    characterFont.setStrikeOut(false);
    struct CharacterSpec {
        const char* name;
        int left;
        const char* tag;
    };
    constexpr std::array<CharacterSpec, 6> kCharacterButtons{{
        {"按钮7", 24, "7"},
        {"按钮6", 92, "6"},
        {"按钮5", 159, "5"},
        {"按钮4", 229, "3"},
        {"按钮3", 296, "4"},
        {"按钮2", 363, "2"},
    }};
    for (const auto& spec : kCharacterButtons) {
        addButton(spec.name, spec.left, 215, 40, 40, "", spec.tag)->setFont(characterFont);
    }

    loadButton_ = addButton("按钮_载入", 288, 15, 72, 33, "载入", "0");

    pictureBox_ = new PictureBox(this);
    pictureBox_->setObjectName(QStringLiteral("图片框1"));
    pictureBox_->setProperty(kKindProperty, QStringLiteral("图片框"));
    pictureBox_->setProperty(kTagProperty, QString());
    pictureBox_->setGeometry(22, 66, 386, 112);
    pictureBox_->setFocusPolicy(Qt::NoFocus);
}

void MainWindow::bindEvents() {
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        QPushButton* button = buttons_[i];
        const auto id = static_cast<ButtonId>(i);
        const QString name = button->objectName();
        if (name == QStringLiteral("按钮_载入")) {
            connect(button, &QPushButton::clicked, this, [this] { load(); });
        } else if (name == QStringLiteral("按钮_清除断点")) {
            connect(button, &QPushButton::clicked, this,
                    [this] { clearResumePoint(state_, *this); });
        } else if (name == QStringLiteral("按钮1")) {
            connect(button, &QPushButton::clicked, this, [this] { previousSample(state_, *this); });
        } else if (name == QStringLiteral("按钮8")) {
            connect(button, &QPushButton::clicked, this, [this] { nextSample(state_, *this); });
        } else {
            connect(button, &QPushButton::clicked, this, [this, id] { toggleCase(*this, id); });
        }
    }
    connect(folderEdit_, &QLineEdit::returnPressed, this, [this] { load(); });
}

void MainWindow::bindKeys() {
    // Esc alone closes the window from any component, as the close button does.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] { close(); });

    // Stepping and toggling from the keyboard, unless the path box is being typed in.
    const auto bind = [this](QKeySequence keys, auto action) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setAutoRepeat(true);
        connect(shortcut, &QShortcut::activated, this, [this, action] {
            if (!folderEdit_->hasFocus()) {
                action();
            }
        });
    };
    for (const auto key : {Qt::Key_Right, Qt::Key_PageDown}) {
        bind(QKeySequence(key), [this] { nextSample(state_, *this); });
    }
    for (const auto key : {Qt::Key_Left, Qt::Key_PageUp}) {
        bind(QKeySequence(key), [this] { previousSample(state_, *this); });
    }
    const auto characters = characterButtons(*this);
    for (std::size_t i = 0; i < characters.size(); ++i) {
        const ButtonId id = characters[i];
        const auto key = static_cast<Qt::Key>(Qt::Key_1 + static_cast<int>(i));
        bind(QKeySequence(key), [this, id] { toggleCase(*this, id); });
        bind(QKeySequence(Qt::KeypadModifier | key), [this, id] { toggleCase(*this, id); });
    }

    button(1)->setToolTip(QStringLiteral("上一张（← 或 Page Up）"));
    button(2)->setToolTip(QStringLiteral("下一张（→ 或 Page Down）"));
    loadButton_->setToolTip(QStringLiteral("载入（在样本路径框中按 Enter）"));
    setLabelWarning({});  // gives the character buttons their key tooltips
}

void MainWindow::load() {
    if (loadSamples(state_, *this)) {
        clearSampleDisplay(*this);
    }
}

void MainWindow::centreOnScreen() {
    // The outer size the frame gives around the fixed client area on a common theme.
    constexpr int kOuterWidth = 447;
    constexpr int kOuterHeight = 427;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - kOuterWidth) / 2,
             area.y() + (area.height() - kOuterHeight) / 2);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    writeResumePoint(state_);
    state_.closing = true;  // a load paused between subfolders stops there
    event->accept();
}

std::vector<ButtonId> MainWindow::pushButtons() const {
    std::vector<ButtonId> ids(buttons_.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ids[i] = static_cast<ButtonId>(i);
    }
    return ids;
}

ButtonId MainWindow::loadButton() const {
    const auto it = std::find(buttons_.begin(), buttons_.end(), loadButton_);
    return static_cast<ButtonId>(it - buttons_.begin());
}

std::string MainWindow::tag(ButtonId id) const {
    return button(id)->property(kTagProperty).toString().toStdString();
}

std::string MainWindow::caption(ButtonId id) const {
    return button(id)->property(kCaptionProperty).toByteArray().toStdString();
}

void MainWindow::setCaption(ButtonId id, const std::string& caption) {
    // Keep the bytes as given: a caption must read back exactly, valid UTF-8 or not.
    QPushButton* target = button(id);
    target->setProperty(kCaptionProperty,
                        QByteArray(caption.data(), static_cast<qsizetype>(caption.size())));
    target->setText(fromBytes(caption));
}

std::string MainWindow::sampleFolderText() const {
    return folderEdit_->text().toStdString();
}

void MainWindow::setPicture(const std::vector<std::uint8_t>& bytes) {
    pictureBox_->setPictureBytes(bytes);
}

void MainWindow::setPaneText(int index, const std::string& text) {
    if (index < 0 || index >= kPaneCount) {
        return;
    }
    panes_[static_cast<std::size_t>(index)]->setText(fromBytes(text));
}

void MainWindow::showMessage(const std::string& text, const std::string& title) {
    showMessageBox(text, title);
}

void MainWindow::processPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void MainWindow::setLabelWarning(const std::string& fullLabel) {
    labelWarning_ = fullLabel;
    const auto characters = characterButtons(*this);
    for (std::size_t i = 0; i < characters.size(); ++i) {
        QPushButton* target = button(characters[i]);
        QString tip = QStringLiteral("切换大小写（%1）").arg(i + 1);
        QPalette palette = target->palette();
        if (fullLabel.empty()) {
            palette = QPalette();
        } else {
            // A warm colour: the label is longer than the buttons, and this sample is not saved.
            palette.setColor(QPalette::Button, QColor(0xF4, 0xB1, 0x83));
            tip = QStringLiteral("标签超过六个字符，此样本不会保存：%1\n%2")
                      .arg(fromBytes(fullLabel), tip);
        }
        target->setPalette(palette);
        target->setToolTip(tip);
    }
}

std::string MainWindow::labelWarning() const {
    return labelWarning_;
}

void MainWindow::setBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

}  // namespace sorvane
