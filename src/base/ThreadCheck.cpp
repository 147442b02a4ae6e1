#include "ThreadCheck.h"

#include <QCoreApplication>
#include <QThread>

bool onMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool onThreadOf(const QObject* object)
{
    return object && QThread::currentThread() == object->thread();
}
