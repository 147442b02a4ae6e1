#include "MsgBox.h"

#include "base/Globals.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

MsgBox::MsgBox(QWidget* parent)
    : QDialog(parent)
    , m_icon(new QLabel(this))
    , m_text(new QLabel(this))
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet("border: none; border-radius: 8px;");

    m_icon->setObjectName("msg_icon");
    m_icon->setFixedSize(36, 36);
    m_icon->setScaledContents(true);

    m_text->setObjectName("msg_text");
    m_text->resize(50, 50);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignVCenter);
    m_text->setStyleSheet("font-size: 14px");
    QPalette palette = m_text->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    m_text->setPalette(palette);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_icon);
    layout->addWidget(m_text);
}

void MsgBox::setInfo(const QString& title, bool ok, const QString& text)
{
    Q_UNUSED(title)
    m_ok = ok;
    m_text->setText(text);
    m_icon->setPixmap(QPixmap(g_resPath + (ok ? "/img/icon_cg.png" : "/img/icon_sb.png")));
    adjustSize();
}

QString MsgBox::text() const
{
    return m_text->text();
}

void MsgBox::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0, 0, 0, 204));
    painter.setPen(Qt::transparent);
    painter.drawRoundedRect(QRect(0, 0, width() - 1, height() - 1), 8, 8, Qt::AbsoluteSize);
}

void MsgBox::mousePressEvent(QMouseEvent* event)
{
    m_offset = event->globalPos() - pos();
    // Only the left button drags; any press still sets where a drag would hold.
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
}

void MsgBox::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed)
        move(event->globalPos() - m_offset);
}

void MsgBox::mouseReleaseEvent(QMouseEvent* event)
{
    Q_UNUSED(event)
    m_pressed = false;
}
