// Draws the demo samples that the start command puts beside a fresh build: captcha-like pictures
// of mixed-case labels whose file names carry some characters in the wrong case, as OCR output
// often does, so that a newcomer has something to correct.
//
// Usage: make_demo_samples <output folder>
#include <QApplication>
#include <QBuffer>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "imaging/image.h"

namespace {

struct Sample {
    const char* shown;  // what the picture says
    const char* named;  // the label in the file name, case not yet corrected
    const char* extension;
};

// A dozen samples, three of each format.
constexpr Sample kSamples[] = {
    {"aB3x", "ab3x", "png"},   {"Kp7Q", "kp7q", "jpg"}, {"mZ2w", "mz2w", "gif"},
    {"R8tY", "r8ty", "bmp"},   {"hG5n", "HG5N", "png"}, {"Xe4L", "xe4l", "jpg"},
    {"wQ9s", "wq9s", "gif"},   {"D2fJ", "d2fj", "bmp"}, {"pT6v", "Pt6V", "png"},
    {"Nb8Ck", "nb8ck", "jpg"}, {"yU3e", "yu3e", "gif"}, {"Fq7Hm", "fq7hm", "bmp"},
};

QImage drawCaptcha(const QString& text, std::mt19937& random) {
    std::uniform_int_distribution<int> channel(200, 250);
    QImage image(160, 60, QImage::Format_RGB32);
    image.fill(QColor(channel(random), channel(random), channel(random)));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    std::uniform_int_distribution<int> dark(20, 120);
    std::uniform_int_distribution<int> x(0, 159);
    std::uniform_int_distribution<int> y(0, 59);
    for (int i = 0; i < 120; ++i) {  // speckle
        painter.setPen(QColor(dark(random), dark(random), dark(random)));
        painter.drawPoint(x(random), y(random));
    }

    QFont font;
    font.setPixelSize(34);
    font.setBold(true);
    painter.setFont(font);
    std::uniform_int_distribution<int> tilt(-25, 25);
    std::uniform_int_distribution<int> lift(-6, 6);
    const int step = 140 / text.size();
    for (int i = 0; i < text.size(); ++i) {
        painter.save();
        painter.translate(14 + i * step + step / 2, 32 + lift(random));
        painter.rotate(tilt(random));
        painter.setPen(QColor(dark(random), dark(random), dark(random)));
        painter.drawText(QRect(-step / 2 - 4, -22, step + 8, 44), Qt::AlignCenter, text.mid(i, 1));
        painter.restore();
    }
    for (int i = 0; i < 3; ++i) {  // strike-through lines
        painter.setPen(QPen(QColor(dark(random), dark(random), dark(random)), 2));
        painter.drawLine(x(random) / 4, y(random), 120 + x(random) / 4, y(random));
    }
    return image;
}

std::vector<std::uint8_t> encodeGif(const QImage& image) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    sorvane::imaging::Frame frame;
    frame.width = static_cast<std::uint32_t>(rgba.width());
    frame.height = static_cast<std::uint32_t>(rgba.height());
    for (int row = 0; row < rgba.height(); ++row) {
        const auto* line = rgba.constScanLine(row);
        frame.rgba.insert(frame.rgba.end(), line, line + rgba.width() * 4);
    }
    return sorvane::imaging::encodeGif(frame);
}

std::vector<std::uint8_t> encodeWithQt(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, format == std::string("JPG") ? 85 : -1);
    return {data.begin(), data.end()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    std::mt19937 random(20261211);
    int serial = 1;
    for (const Sample& sample : kSamples) {
        const QImage image = drawCaptcha(QString::fromUtf8(sample.shown), random);
        const std::string extension = sample.extension;
        const auto bytes = extension == "gif"   ? encodeGif(image)
                           : extension == "jpg" ? encodeWithQt(image, "JPG")
                           : extension == "bmp" ? encodeWithQt(image, "BMP")
                                                : encodeWithQt(image, "PNG");
        char number[16];
        std::snprintf(number, sizeof number, "%04d", serial++);
        const std::string path =
            std::string(argv[1]) + "/" + sample.named + "_" + number + "." + extension;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    return 0;
}
