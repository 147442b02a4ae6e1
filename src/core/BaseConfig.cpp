#include "BaseConfig.h"

#include "Globals.h"
#include "SourceManager.h"
#include "WebSocketServer.h"
#include "WebrtcManager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSettings>
#include <QThread>
#include <QTimer>

namespace {
bool onMainThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}
} // namespace

BaseConfig* BaseConfig::getInstance()
{
    static BaseConfig controller;
    return &controller;
}

BaseConfig::BaseConfig()
    : workerThread(new QThread(this))
    , sourceTimer(new QTimer)
{
    qDebug() << "BaseConfig " << QThread::currentThreadId();
    workerThread->setObjectName("controller worker");
    sourceTimer->moveToThread(workerThread);
    sourceTimer->setInterval(2000);
    connect(workerThread, &QThread::started, sourceTimer, qOverload<>(&QTimer::start));
    connect(workerThread, &QThread::finished, sourceTimer, &QTimer::stop);
    connect(sourceTimer, &QTimer::timeout, this, &BaseConfig::updateSource, Qt::DirectConnection);
}

BaseConfig::~BaseConfig()
{
    stopWorker();
}

void BaseConfig::initGeneralConfig()
{
    QSettings settings(g_savePath + "/general.ini", QSettings::IniFormat);
    g_is_neutral_version = settings.value("Config/isNeutralVersion", g_is_neutral_version).toBool();
    const bool show = !g_is_neutral_version;
    languageShow = settings.value("Config/languageShow", show).toBool();
    logoImgShow = settings.value("Config/logoImgShow", show).toBool();
    loginImgShow = settings.value("Config/loginImgShow", show).toBool();
    deviceNameShow = settings.value("Config/deviceNameShow", show).toBool();
}

bool BaseConfig::initConfigs()
{
    language = QSettings(g_savePath + "/lang.ini", QSettings::IniFormat)
                   .value("ChangeLanguage/Language", "en")
                   .toString();
    emit langChanged(language);

    if (!webSocketServer) {
        webSocketServer = WebSocketServer::instance();
        if (workerThread)
            WebSocketServer::instance()->moveToThread(workerThread);
    }
    qDebug() << "init websocket. ";

    if (webrtcManager) {
        webrtcManager->init();
        qDebug() << "init webrtc. ";
    }
    return true;
}

void BaseConfig::openWindows()
{
    if (!workerThread->isRunning())
        workerThread->start(QThread::InheritPriority);
}

void BaseConfig::stopWorker()
{
    if (!sourceTimer)
        return;
    if (workerThread->isRunning()) {
        // Posted behind whatever destroy() queued to the worker, so that runs first.
        QMetaObject::invokeMethod(sourceTimer, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
        workerThread->wait();
    }
    // Its thread has ended (or never ran), so it can go from here.
    delete sourceTimer;
    sourceTimer = nullptr;
    qDebug() << "BaseConfig worker thread stopped.";
}

QString BaseConfig::getWebUrl()
{
    QMutexLocker lock(&programsMutex);
    return webUrl;
}

void BaseConfig::changeUrl(const QString& url)
{
    {
        QMutexLocker lock(&programsMutex);
        if (url == webUrl)
            return;
        webUrl = url;
    }
    if (WebSocketServer* server = webSocketServer)
        QMetaObject::invokeMethod(server, "sendProgramRequest", Qt::QueuedConnection);
}

void BaseConfig::updateSource()
{
    if (WebSocketServer* server = webSocketServer)
        server->sendSourceRequest();
}

void BaseConfig::destroy()
{
    qDebug() << "BaseConfig::destroy " << onMainThread();

    if (WebSocketServer* server = webSocketServer.exchange(nullptr))
        QMetaObject::invokeMethod(server, "onDestroyAll", Qt::QueuedConnection);
    qDebug() << "BaseConfig::destroy websocket done." << onMainThread();

    if (sourceManager) {
        sourceManager->stopDiscover();
        sourceManager = nullptr;
    }
    qDebug() << "BaseConfig::destroy stop discover done." << onMainThread();

    if (webrtcManager) {
        webrtcManager->destroy();
        webrtcManager = nullptr;
    }
    qDebug() << "BaseConfig::destroy done" << onMainThread();
}
