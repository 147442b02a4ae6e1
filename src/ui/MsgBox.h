#pragma once
// MsgBox: the rounded, translucent box that reports the result of a save.
//
// Owner: its Qt parent (the settings window). Thread: GUI only.
#include <QDialog>
#include <QPoint>

class QLabel;

class MsgBox : public QDialog {
    Q_OBJECT
public:
    explicit MsgBox(QWidget* parent = nullptr);

    // Shows text with the success or failure icon; the title is not shown.
    void setInfo(const QString& title, bool ok, const QString& text);

    QString text() const;
    bool isSuccess() const { return m_ok; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QLabel* m_icon;
    QLabel* m_text;
    bool m_ok = false;
    bool m_pressed = false;
    QPoint m_offset;
};
