#include "MyButton.h"

#include "base/Globals.h"

#include <QIcon>

MyButton::MyButton(QWidget* parent)
    : QPushButton(parent)
{
    setIcon(QIcon(g_resPath + "/img/icon_help_d.png"));
    setIconSize(QSize(30, 30));
}

void MyButton::enterEvent(QEvent* event)
{
    setIcon(QIcon(g_resPath + "/img/icon_help_s.png"));
    QPushButton::enterEvent(event);
}

void MyButton::leaveEvent(QEvent* event)
{
    setIcon(QIcon(g_resPath + "/img/icon_help_d.png"));
    QPushButton::leaveEvent(event);
}
