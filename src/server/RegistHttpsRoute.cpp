#include "RegistHttpsRoute.h"

#include "Globals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QThread>

namespace {
bool onMainThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}
} // namespace

RegistHttpsRoute::RegistHttpsRoute()
{
    qDebug() << "RegistHttpsRoute thread id :" << QThread::currentThreadId();
}

RegistHttpsRoute::~RegistHttpsRoute()
{
    destroy();
}

bool RegistHttpsRoute::initHttpServer()
{
    qDebug() << "initHttpServer thread id :" << QThread::currentThreadId();
    // No HTTP server is built into this application yet, so nothing listens.
    qDebug() << "HttpServer listen port " << g_httpPort << "failed!";
    return false;
}

void RegistHttpsRoute::destroy()
{
    qDebug() << "RegistHttpsRoute::destroy" << onMainThread();
    qDebug() << "RegistHttpsRoute::destroy done" << onMainThread();
    emit httpDestroyed();
}
