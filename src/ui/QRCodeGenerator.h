#pragma once
// QRCodeGenerator: encodes a text (the browser interface's address) as a QR
// code and paints its modules into an image for the main window.
//
// Owner: the main window (created without a parent, deleted by the window).
// Thread: GUI only.
#include <QObject>
#include <QString>

#include <qrencode.h>

class QImage;
class QPainter;

class QRCodeGenerator : public QObject {
    Q_OBJECT
public:
    // The parent is not taken: the main window deletes the generator itself.
    explicit QRCodeGenerator(QObject* parent = nullptr);
    ~QRCodeGenerator() override;

    // Replaces the current code; a text that cannot be encoded leaves none.
    void setString(const QString& text);
    // A new width x height image (owned by the caller) with the code fitted
    // into a centred square of side size; null when size is 0. Without a code
    // the image is plain white.
    QImage* getImage(int width, int height, int size);
    void draw(QPainter& painter, int width, int height, int size);

    bool hasCode() const { return m_code != nullptr; }

private:
    QRcode* m_code = nullptr;
};
