#pragma once
// BaseConfig: the controller. Holds the settings the browser interface asks
// for, keeps the process-wide services it drives (source manager, WebRTC
// manager, WebSocket server) and tears them down in order at shutdown.
//
// Owner: function-local static, first made by start-up on the GUI thread.
// Threads: its slots run on the GUI thread; workerThread (started by
// openWindows, stopped by stopWorker) hosts sourceTimer and the WebSocket
// server.
#include <QObject>
#include <QRecursiveMutex>
#include <QString>

#include <atomic>

class QThread;
class QTimer;
class SourceManager;
class WebSocketServer;
class WebrtcManager;

class BaseConfig : public QObject {
    Q_OBJECT
public:
    static BaseConfig* getInstance();
    ~BaseConfig() override;

    void setWebrtcManager(WebrtcManager* manager) { webrtcManager = manager; }
    void setSourceManager(SourceManager* manager) { sourceManager = manager; }

    // Reads "general.ini" [Config]; missing keys take their defaults and are not written.
    void initGeneralConfig();
    // Reads "lang.ini", makes the WebSocket server and starts the WebRTC manager.
    bool initConfigs();
    // Starts the worker thread (source pushes, WebSocket server).
    void openWindows();
    // Lets the worker finish what was queued to it (the WebSocket server's
    // teardown), then ends and joins it. Runs once the event loop has ended.
    void stopWorker();

    QString getWebUrl();
    QString getLanguage() const { return language; }
    bool isLanguageShow() const { return languageShow; }
    bool isLogoImgShow() const { return logoImgShow; }
    bool isLoginImgShow() const { return loginImgShow; }
    bool isDeviceNameShow() const { return deviceNameShow; }

signals:
    void langChanged(QString language);

public slots:
    // Orderly shutdown of what the controller drives; a repeat does nothing but log.
    void destroy();
    void updateSource();
    void changeUrl(const QString& url);

private:
    BaseConfig();

    QThread* workerThread;
    QTimer* sourceTimer;
    QString webUrl;
    QString language;
    SourceManager* sourceManager = nullptr;
    WebrtcManager* webrtcManager = nullptr;
    std::atomic<WebSocketServer*> webSocketServer{nullptr}; // read by updateSource on the worker
    bool languageShow = true;
    bool logoImgShow = true;
    bool loginImgShow = true;
    bool deviceNameShow = true;
    QRecursiveMutex programsMutex;
};
