#include "MyMenu.h"

MyMenu::MyMenu(QWidget* parent)
    : QMenu(nullptr)
{
    Q_UNUSED(parent)
}

void MyMenu::leaveEvent(QEvent* event)
{
    Q_UNUSED(event)
    emit hasLeaved();
}
