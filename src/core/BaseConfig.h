#pragma once
// BaseConfig: the controller. Holds the program map and the few settings the
// browser interface asks for, owns the users manager and the layout template
// store, keeps the process-wide services it drives (source manager, WebRTC
// manager, WebSocket server), builds the push messages, and tears everything
// down in order at shutdown.
//
// Owner: the application reaches the one controller through getInstance()
// (a function-local static, first made by start-up on the GUI thread); tests
// may make their own instances. Threads: its slots run on the GUI thread;
// workerThread (started by openWindows, stopped by stopWorker) hosts
// sourceTimer and the WebSocket server. The HTTPS thread calls the request
// handlers and the push builders run on the worker: everything that touches
// programs or programNames holds the recursive programsMutex.
#include "RequestTypes.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QRecursiveMutex>
#include <QSharedPointer>
#include <QString>

#include <atomic>

class LayoutTemplate;
class ProjectObject;
class QThread;
class QTimer;
class SourceManager;
class UsersManager;
class WebSocketServer;
class WebrtcManager;

// Order of the program list: by the unsigned decimal value of the ids (text
// that is no such number counts as 0).
bool compareProData(const QString& a, const QString& b);

class BaseConfig : public QObject {
    Q_OBJECT
public:
    static BaseConfig* getInstance();
    // The application uses getInstance(); tests make their own controllers.
    BaseConfig();
    ~BaseConfig() override;

    void setWebrtcManager(WebrtcManager* manager) { webrtcManager = manager; }
    void setSourceManager(SourceManager* manager) { sourceManager = manager; }

    // Reads "general.ini" [Config]; missing keys take their defaults and are not written.
    void initGeneralConfig();
    // Reads "lang.ini", makes the WebSocket server, opens the users database,
    // starts the WebRTC manager and loads the programs. Always true.
    bool initConfigs();
    void initWebSocket();
    // Programs from "programs.json" and their folders; removes stray folders.
    bool load();
    // Opens every program's mixers and windows, then starts the worker thread
    // (source pushes, WebSocket server).
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
    LayoutTemplate* getLayoutTemplate() const { return layoutTemplate; }
    UsersManager* getUsersManager() const { return usersManager; }

    // The program under pro_id, null when there is none. Takes programsMutex;
    // callers that go on using the program hold it themselves.
    QSharedPointer<ProjectObject> getProgram(const QString& pro_id);
    QStringList programIds();
    int getLastProId();

    // Push messages, each into an empty object the caller passes.
    QJsonObject programListJson();
    void getProgramRequest(QJsonObject& message);
    QJsonObject getWindowList(const QString& pro_id);
    void getWindowRequest(QJsonObject& message, const QString& pro_id);
    void getPresetRequest(QJsonObject& message, const QString& pro_id);
    void getGridRequest(QJsonObject& message, const QString& pro_id, const QString& win_id);
    void getControlRequest(QJsonObject& message, const QString& pro_id, const QString& win_id);
    void getLiveRequest(QJsonObject& message, const QString& pro_id, const QString& win_id);
    void getScreenRequest(QJsonObject& message, const QString& pro_id, const QString& win_id);

signals:
    void langChanged(QString language);

public slots:
    // Orderly shutdown of what the controller drives; a repeat does nothing but log.
    void destroy();
    bool addProgram(const QJsonObject& body, QString message);
    bool removeProgram(const QString& pro_id, QString message);
    bool addWindow(const QString& pro_id, const QJsonObject& body, QString message);
    bool removeWindow(const QString& pro_id, const QJsonObject& body);
    void updateSource();
    void checkAudioDeviceValid();
    void getAudioDevices();
    void changeUrl(const QString& url);
    void onProgramChanged(PROGRAMTYPE type, QString pro_id);
    void saveProgramList();

private:
    using ProgramMap = QMap<QString, QSharedPointer<ProjectObject>>;

    QSharedPointer<ProjectObject> makeProgram(const QString& pro_id);
    // Queues a push slot of the WebSocket server by name, when there is one.
    void queuePush(const char* slot, const QString& pro_id = QString(), const QString& win_id = QString());
    // The builders of the program-object messages share one shape.
    template <typename Getter>
    void buildProgramMessage(QJsonObject& message, const char* kind, const QString& pro_id, const QString& win_id,
        bool withWinId, Getter getter);

    QThread* workerThread;
    QTimer* sourceTimer;
    QString webUrl;
    QString language;
    QString qrcodeUrl;
    SourceManager* sourceManager = nullptr;
    WebrtcManager* webrtcManager = nullptr;
    UsersManager* usersManager = nullptr;
    LayoutTemplate* layoutTemplate = nullptr;
    std::atomic<WebSocketServer*> webSocketServer { nullptr }; // read by updateSource on the worker
    ProgramMap programs;
    int lastProId = 0;
    QMap<QString, QString> programNames;
    QTimer* audioCheckTimer = nullptr;
    QString audioDeviceName;
    bool languageShow = true;
    bool logoImgShow = true;
    bool loginImgShow = true;
    bool deviceNameShow = true;
    QRecursiveMutex programsMutex;
};
