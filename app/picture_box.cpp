#include "app/picture_box.h"

#include <QPainter>

#include "imaging/image.h"

namespace sorvane {

PictureBox::PictureBox(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { advance(); });
}

void PictureBox::setPictureBytes(const std::vector<std::uint8_t>& bytes) {
    timer_.stop();
    frames_.clear();
    current_ = 0;
    if (auto image = imaging::decode(bytes)) {
        for (auto& frame : image->frames) {
            // Copy out of the decoder's buffer: the QImage must own its pixels.
            QImage shown(frame.rgba.data(), static_cast<int>(frame.width),
                         static_cast<int>(frame.height), static_cast<qsizetype>(frame.width) * 4,
                         QImage::Format_RGBA8888);
            frames_.push_back({shown.copy(), frame.delayMs});
            std::vector<std::uint8_t>().swap(frame.rgba);
        }
        loopsLeft_ = image->loopCount == 0 ? -1 : image->loopCount - 1;
    }
    if (frames_.size() > 1) {
        timer_.start(std::max(frames_[0].delayMs, 10));
    }
    update();
}

const QImage& PictureBox::currentFrame() const {
    return frames_.empty() ? noPicture_ : frames_[current_].image;
}

void PictureBox::advance() {
    if (current_ + 1 < frames_.size()) {
        ++current_;
    } else if (loopsLeft_ != 0) {
        if (loopsLeft_ > 0) {
            --loopsLeft_;
        }
        current_ = 0;
    } else {
        return;  // the last play ended on its last frame
    }
    update();
    timer_.start(std::max(frames_[current_].delayMs, 10));
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);  // the border
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.setClipRect(area);
    painter.fillRect(area, palette().window());
    if (!frames_.empty()) {
        painter.drawImage(area.topLeft(), frames_[current_].image);
    }
}

}  // namespace sorvane
