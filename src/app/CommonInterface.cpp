#include "CommonInterface.h"

#include "base/Globals.h"
#include "media/GlobalData.h"

#include "BaseConfig.h"
#include "RegistHttpsRoute.h"
#include "base/ProcessSetup.h"
#include "base/ShutdownSignal.h"
#include "base/Translator.h"
#include "http/HttpResponder.h"
#include "model/Preset.h"
#include "render/ScreensControl.h"
#include "render/VideoRender.h"
#include "server/WebSocketServer.h"
#include "sources/SourceManager.h"
#include "ui/Widget.h"
#include "webrtc/WebrtcManager.h"

#include <QApplication>
#include <QDebug>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLocale>
#include <QQmlEngine>
#include <QThread>
#include <QUrl>

#include <cstdio>
#include <cstring>
#include <memory>

CommonInterface& CommonInterface::getInstance()
{
    static CommonInterface shell;
    return shell;
}

void CommonInterface::handleRequest(const HttpRequest& request, HttpResponder& responder, int code)
{
    BaseConfig* controller = BaseConfig::getInstance();
    QJsonObject reply;
    switch (code) {
    case 2:
        reply = controller->getGridResult(GRID_GET_POSITION, request);
        break;
    case 3:
        reply = controller->getProgramResult(PROGRAM_GET_PARAM, request, responder);
        break;
    case 8:
        reply = controller->getScreenList();
        break;
    case 9:
        reply = controller->getSdp(request);
        break;
    case 22:
        reply = controller->getGridResult(GRID_GET_NUM_RANGE, request);
        break;
    default:
        break;
    }
    responder.write(reply, 200);
}

bool CommonInterface::hasDevelopingSwitch(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--developing") == 0)
            return true;
    }
    return false;
}

bool loadExtFont(const QString& fontFile)
{
    const int id = QFontDatabase::addApplicationFont(fontFile);
    if (id == -1) {
        qDebug() << "add font failed.";
        return false;
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (!families.isEmpty())
        QApplication::setFont(QFont(families.first()));
    return true;
}

namespace {

// Start-up cannot go on without this file: say which one, on stderr (the log
// is not on the console) and in the log.
void reportUnusableResource(const QString& file)
{
    const QString what
        = QFileInfo::exists(file) ? QStringLiteral("unusable resource file") : QStringLiteral("missing resource file");
    qCritical().noquote() << what << file;
    std::fprintf(stderr, "Panoptra_Pro: %s: %s\n", qUtf8Printable(what), qUtf8Printable(file));
    std::fflush(stderr);
}

// Where to go once the servers listen, on the terminal that started the
// application: the address with its port, the WebSocket address, what the
// browser will say about the certificate, the first login and how to stop.
void tellHowToConnect(const QString& offeredUrl, int httpPort, int websocketPort, bool websocketListening)
{
    // The machine's own address where the window offers one, and localhost.
    const auto addresses = [&](const char* scheme, int port) {
        const QString local = QStringLiteral("%1://localhost:%2/").arg(scheme).arg(port);
        const QString host = QUrl(offeredUrl).host();
        return host.isEmpty() ? local : QStringLiteral("%1://%2:%3/  or  %4").arg(scheme, host).arg(port).arg(local);
    };
    const QString websocket = websocketListening
        ? addresses("wss", websocketPort)
        : QStringLiteral("not listening on port %1 (see the log)").arg(websocketPort);
    QString text = QStringLiteral("\nPanoptra Pro is listening.\n");
    text += QStringLiteral("  Browser:    %1\n").arg(addresses("https", httpPort));
    text += QStringLiteral("  WebSocket:  %1\n").arg(websocket);
    text += QStringLiteral("  The certificate is self-signed: the browser warns once; accept it to go on.\n");
    text += QStringLiteral("  First login: admin / vexmo. Change that password after logging in.\n");
    text += QStringLiteral("  To stop: Ctrl-C in this terminal, or close the application window.\n\n");
    std::fputs(qUtf8Printable(text), stdout);
    std::fflush(stdout);
}

void tellListenFailure(int httpPort, const QString& reason)
{
    std::fprintf(stdout,
        "\nPanoptra Pro: the HTTPS server cannot listen on port %d: %s\n"
        "  Choose another port in the Settings of the application window (it restarts on the new port).\n"
        "  To stop: Ctrl-C in this terminal, or close the application window.\n\n",
        httpPort, qUtf8Printable(reason));
    std::fflush(stdout);
}

} // namespace

bool CommonInterface::init(const QString& baseDirectory, QApplication& application)
{
    qDebug() << "main thread id :" << QThread::currentThreadId();
    const QString fontFile = baseDirectory + "/res/ttf/PingFang Regular.ttf";
    if (!loadExtFont(fontFile)) {
        qDebug() << "load PingFang Regular font failed.";
        reportUnusableResource(fontFile);
        return false;
    }

    Translator translator;
    translator.setSomething(application);
    const QString language = QLocale::system().name().section('_', 0, 0);
    qDebug() << "Current system language code:" << language;
    translator.loadLanguage(language == "zh" ? "zh" : "en");

    GlobalData::instance()->load();
    // Before any window exists: the programs' windows are read by initConfigs.
    Preset::setScreenIndexCheck(
        [](int screenIndex) { return ScreensControl::instance()->checkScreenIndex(screenIndex); });

    Widget widget;
    WebrtcManager* webrtcManager = WebrtcManager::instance();
    BaseConfig* controller = BaseConfig::getInstance();
    controller->setWebrtcManager(webrtcManager);
    controller->initGeneralConfig();
    connect(&widget, &Widget::langChanged, &translator, &Translator::loadLanguage);
    connect(&widget, &Widget::qrcodeChanged, controller, &BaseConfig::changeUrl);
    widget.initWidget(language);
    controller->initConfigs();
    qDebug() << "init base configs .";
    // The WebSocket server listened (or not) as it was made; the worker
    // thread it was moved to does not run before openWindows.
    const bool websocketListening = WebSocketServer::instance()->isListening();
    if (websocketListening)
        widget.addServedPort(g_websocketPort);

    SourceManager* sourceManager = SourceManager::instance();
    controller->setSourceManager(sourceManager);
    sourceManager->load();
    qDebug() << "init sourceManager .";

    qmlRegisterType<VideoRender>("SceneGraphRendering", 1, 0, "Renderer");
    qDebug() << "init qml type .";

    // The route object lives on the HTTPS thread: its server is built when the
    // thread starts and torn down as it finishes.
    auto httpsThread = std::make_unique<QThread>();
    httpsThread->setObjectName("https");
    auto route = std::make_unique<RegistHttpsRoute>();
    route->moveToThread(httpsThread.get());
    connect(&widget, &Widget::destroyAll, route.get(), &RegistHttpsRoute::destroy);
    connect(route.get(), &RegistHttpsRoute::httpDestroyed, controller, &BaseConfig::destroy);
    connect(httpsThread.get(), &QThread::started, route.get(), &RegistHttpsRoute::initHttpServer, Qt::DirectConnection);
    connect(httpsThread.get(), &QThread::finished, route.get(), &RegistHttpsRoute::destroy, Qt::DirectConnection);
    const int websocketPort = g_websocketPort;
    connect(route.get(), &RegistHttpsRoute::listenResult, &widget,
        [&widget, websocketPort, websocketListening](bool listening, int port, const QString& reason) {
            if (!listening) {
                widget.showHttpListenFailure(port, reason);
                tellListenFailure(port, reason);
                return;
            }
            widget.addServedPort(port);
            tellHowToConnect(widget.offeredUrl(), port, websocketPort, websocketListening);
        });
    httpsThread->start(QThread::InheritPriority);

    controller->openWindows();
    qDebug() << "open windows .";
    sourceManager->startDiscover();
    qDebug() << "start source thread .";
    qDebug() << "setAwakeState .";
    widget.updateAddress();
    qDebug() << "updateAddress .";

    // SIGTERM, SIGINT and SIGHUP close the main window like the operator would; a
    // request that came during start-up is picked up as the loop starts.
    ShutdownSignal stopRequests;
    connect(&stopRequests, &ShutdownSignal::requested, &widget, [&widget] {
        widget.close();
        QCoreApplication::quit();
    });
    widget.show();
    qDebug() << "show .";

    application.exec();
    qDebug() << "event loop ended .";

    // Teardown, the reverse of start-up. Closing the window may have done
    // part of it while the loop ran (every step tolerates a repeat), but what
    // it queued for this thread after the loop ended would never run, so
    // each step is taken here, in order, before the application goes.
    httpsThread->quit();
    httpsThread->wait();
    QObject::disconnect(route.get(), nullptr, nullptr, nullptr);
    route.reset();
    httpsThread.reset();
    qDebug() << "https thread stopped .";
    controller->destroy();
    controller->stopWorker();
    // A restart chosen in the settings starts the new process only now, when
    // the servers have released their ports: the launcher that waits for this
    // one starts it again on its status, or this one starts its replacement.
    m_exitStatus = 0;
    if (widget.restartRequested()) {
        if (m_restartByLauncher) {
            qInfo() << "restart: leaving it to the launcher";
            m_exitStatus = ProcessSetup::kRestartStatus;
        } else if (!widget.startReplacement()) {
            m_exitStatus = 1;
        }
    }
    return true;
}
