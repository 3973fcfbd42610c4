// The picture box: a one-pixel border around a 384 x 110 drawing area that shows a picture at its
// natural size from the top-left corner, clipped, never scaled. Animated GIFs play by themselves.
#pragma once

#include <QFrame>
#include <QImage>
#include <QTimer>
#include <cstdint>
#include <vector>

namespace sorvane {

class PictureBox : public QFrame {
public:
    explicit PictureBox(QWidget* parent);

    // Drops the current picture, then decodes `bytes` and shows them; undecodable bytes show
    // the background only.
    void setPictureBytes(const std::vector<std::uint8_t>& bytes);

    // The frame on display (null when there is no picture); for tests.
    const QImage& currentFrame() const;
    int frameCount() const { return static_cast<int>(frames_.size()); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Shown {
        QImage image;
        int delayMs = 0;
    };
    void advance();

    std::vector<Shown> frames_;
    std::size_t current_ = 0;
    int loopsLeft_ = 0;  // plays still to start after this one; -1 for ever
    QTimer timer_;
    QImage noPicture_;
};

}  // namespace sorvane
