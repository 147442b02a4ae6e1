#pragma once
// What zbarimg reads from a picture of a QR code, with a white margin added
// (a code needs a light quiet zone around it); empty when it finds none.
#include "TestSupport.h"

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace uitest {

inline QString readQrCode(const QImage& picture)
{
    QImage padded(picture.width() + 80, picture.height() + 80, QImage::Format_RGB32);
    padded.fill(Qt::white);
    QPainter(&padded).drawImage(40, 40, picture);
    QTemporaryDir dir;
    const QString file = dir.filePath("code.png");
    padded.save(file);
    QProcess zbar;
    zbar.start("zbarimg", { "--raw", "-q", file });
    zbar.waitForFinished(testsupport::budgetMs(20000));
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

} // namespace uitest
