#include "QRCodeGenerator.h"

#include <QImage>
#include <QPainter>

#include <qrencode.h>

QRCodeGenerator::QRCodeGenerator(QObject* parent)
    : QObject(nullptr)
{
    Q_UNUSED(parent)
}

QRCodeGenerator::~QRCodeGenerator()
{
    if (m_code)
        QRcode_free(m_code);
}

void QRCodeGenerator::setString(const QString& text)
{
    if (m_code) {
        QRcode_free(m_code);
        m_code = nullptr;
    }
    // Version 2 is the smallest allowed; the library grows it as the text needs.
    const QByteArray utf8 = text.toUtf8();
    m_code = QRcode_encodeString(utf8.constData(), 2, QR_ECLEVEL_H, QR_MODE_8, 1);
}

QImage* QRCodeGenerator::getImage(int width, int height, int size)
{
    if (size == 0)
        return nullptr;
    auto* image = new QImage(width, height, QImage::Format_RGBA8888);
    QPainter painter(image);
    painter.setBrush(QBrush(Qt::white));
    painter.setPen(Qt::NoPen);
    painter.drawRect(0, 0, width, height);
    if (m_code)
        draw(painter, width, height, size);
    painter.end();
    return image;
}

void QRCodeGenerator::draw(QPainter& painter, int width, int height, int size)
{
    painter.setBrush(QBrush(Qt::black));
    const int modules = m_code->width < 2 ? 1 : m_code->width;
    const int side = size / modules;
    // The origin centres the square of side size, not the drawn code.
    const int x0 = (width - size) / 2;
    const int y0 = (height - size) / 2;
    for (int y = 0; y < modules; ++y) {
        for (int x = 0; x < modules; ++x) {
            if (m_code->data[y * modules + x] & 1)
                painter.drawRect(QRectF(x0 + x * side, y0 + y * side, side, side));
        }
    }
}
