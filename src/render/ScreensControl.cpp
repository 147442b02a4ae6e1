#include "ScreensControl.h"

#include <QGuiApplication>
#include <QJsonObject>
#include <QScreen>

ScreensControl* ScreensControl::instance()
{
    static ScreensControl control;
    return &control;
}

ScreensControl::ScreensControl()
{
    refreshScreenList();
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &ScreensControl::addScreen);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &ScreensControl::removeScreen);
}

void ScreensControl::refreshScreenList()
{
    fill(QGuiApplication::screens());
}

void ScreensControl::fill(const QList<QScreen*>& list)
{
    QMutexLocker lock(&screens_mutex);
    screens.clear();
    for (int i = 0; i < list.size(); ++i)
        screens.insert(i + 1, list.at(i));
}

bool ScreensControl::checkScreenIndex(int screenIndex)
{
    if (screenIndex < 1)
        return true;
    QMutexLocker lock(&screens_mutex);
    return screens.value(screenIndex) != nullptr;
}

// A display that comes or goes renumbers the ones after it.
void ScreensControl::addScreen(QScreen*)
{
    refreshScreenList();
}

void ScreensControl::removeScreen(QScreen* screen)
{
    // The display may still be listed while it is being removed.
    QList<QScreen*> list = QGuiApplication::screens();
    list.removeAll(screen);
    fill(list);
}

QJsonArray ScreensControl::getScreenToWeb()
{
    QMutexLocker lock(&screens_mutex);
    QJsonArray list;
    for (auto it = screens.cbegin(); it != screens.cend(); ++it) {
        if (it.value())
            list.append(QJsonObject { { "id", it.key() }, { "label", QStringLiteral("screen %1").arg(it.key()) } });
    }
    return list;
}

QScreen* ScreensControl::getScreen(int index)
{
    QMutexLocker lock(&screens_mutex);
    return screens.value(index);
}

QRect ScreensControl::getScreenGeometry(int index)
{
    if (QScreen* screen = getScreen(index))
        return screen->geometry();
    return QRect(0, 0, 1280, 720);
}

QString ScreensControl::getScreenName(int index)
{
    return getScreen(index) ? QString::number(index) : QString();
}

int ScreensControl::getScreenIndex(const QString& name)
{
    const int index = name.toInt();
    return getScreen(index) ? index : 0;
}

int ScreensControl::getInitX()
{
    const QList<QScreen*> list = QGuiApplication::screens();
    return list.size() < 2 ? 0 : list.at(1)->geometry().x();
}

int ScreensControl::getInitY()
{
    const QList<QScreen*> list = QGuiApplication::screens();
    return list.size() < 2 ? 0 : list.at(1)->geometry().y();
}
