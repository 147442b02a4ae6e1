#pragma once
// BaseConfig: the controller. Holds the program map and the few settings the
// browser interface asks for, owns the users manager and the layout template
// store, keeps the process-wide services it drives (source manager, WebRTC
// manager, WebSocket server), builds the push messages, and tears everything
// down in order at shutdown.
//
// Owner: the application reaches the one controller through getInstance()
// (a function-local static, first made by start-up on the GUI thread); tests
// may make their own instances. Threads: start-up, shutdown and the queued
// adds and removals of programs and windows run on the GUI thread (debug
// builds assert it); workerThread (started by openWindows, stopped by
// stopWorker) hosts sourceTimer, which calls updateSource there, and the
// WebSocket server. getAudioDevices runs on the thread pool, saveProgramList
// on a saver, and onProgramChanged on the HTTPS thread for changes other
// than adds and removals. The HTTPS thread calls the request
// handlers and the push builders run on the worker: everything that touches
// programs or programNames holds the recursive programsMutex. A new program
// or window is built without it (that takes seconds) and enters its map
// finished, under it. State files are written by the saver threads of
// `saves`: a change marks the files it touched and its request is answered;
// a saver writes each marked file once, as the model is when it runs
// (holding programsMutex only while it copies the state out). destroy()
// writes what is marked before the programs go.
#include "base/RequestTypes.h"
#include "base/SaveQueue.h"
#include "model/ProjectObject.h"
#include "server/ClientRequests.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QReadWriteLock>
#include <QRecursiveMutex>
#include <QSharedPointer>
#include <QString>

#include <atomic>
#include <functional>

class HttpRequest;
class HttpResponder;
class LayoutTemplate;
class QThread;
class QTimer;
class SourceManager;
class UsersManager;
class WebSocketServer;
class WebrtcManager;

// Order of the program list: by the unsigned decimal value of the ids (text
// that is no such number counts as 0).
bool compareProData(const QString& a, const QString& b);

class BaseConfig : public QObject, public ClientRequests {
    Q_OBJECT
public:
    static BaseConfig* getInstance();
    // The application uses getInstance(); tests make their own controllers.
    BaseConfig();
    ~BaseConfig() override;

    void setWebrtcManager(WebrtcManager* manager) { webrtcManager = manager; }
    void setSourceManager(SourceManager* manager) { sourceManager = manager; }
    // Null before start-up hands one over and once shutdown has taken it.
    SourceManager* getSourceManager() const { return sourceManager; }

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
    void getProgramRequest(QJsonObject& message) override;
    QJsonObject getWindowList(const QString& pro_id);
    void getWindowRequest(QJsonObject& message, const QString& pro_id) override;
    void getPresetRequest(QJsonObject& message, const QString& pro_id) override;
    void getGridRequest(QJsonObject& message, const QString& pro_id, const QString& win_id) override;
    void getControlRequest(QJsonObject& message, const QString& pro_id, const QString& win_id) override;
    void getLiveRequest(QJsonObject& message, const QString& pro_id, const QString& win_id) override;
    void getScreenRequest(QJsonObject& message, const QString& pro_id, const QString& win_id) override;

signals:
    void langChanged(QString language);
    // A new program is built (mixers, windows, renderers, encoders) and
    // enters the program map next; emitted on the controller's thread
    // without the program-map lock.
    void programBuilt(QString pro_id);

public slots:
    // Orderly shutdown of what the controller drives; a repeat does nothing but log.
    void destroy();
    bool addProgram(const QJsonObject& body, QString message);
    bool removeProgram(const QString& pro_id, const QString& message);
    bool addWindow(const QString& pro_id, const QJsonObject& body, QString message);
    // Makes the program whose id and name the accepted add reserved.
    bool createProgram(const QString& pro_id, const QJsonObject& body);
    // Makes the window whose id the accepted add reserved.
    bool addReservedWindow(const QString& pro_id, const QString& win_id, const QJsonObject& body);
    bool removeWindow(const QString& pro_id, const QJsonObject& body);
    void updateSource();
    void checkAudioDeviceValid();
    void getAudioDevices();
    void changeUrl(const QString& url);
    // Marks the files a program change touched (the program list, and its
    // folder's files or, for a removal, the folder itself).
    void onProgramChanged(PROGRAMTYPE type, const QString& pro_id);
    // Writes "programs.json" now.
    void saveProgramList();

public:
    // Marks "programs.json" to be written by the saver.
    void saveProgramListLater();
    // Returns once every file marked so far has been written. Never called
    // while holding programsMutex (the saver takes it).
    void waitForSaves();

private:
    using ProgramMap = QMap<QString, QSharedPointer<ProjectObject>>;

    QSharedPointer<ProjectObject> makeProgram(const QString& pro_id);
    // A file of pro_id's folder, marked for the saver, which stores it while
    // the program is in the map; a removed program's folder goes as a whole.
    void saveProgramFileLater(const QString& pro_id, ProjectObject::StateFile kind, const QString& id);
    void removeProgramFolderLater(const QString& pro_id);
    // The next program id; never one in use or one whose folder is on disk.
    QString nextProgramId();
    // A new program's id and name, taken when its add is accepted.
    QString reserveProgram(const QString& name);
    // The program's tally and grid changes reach the clients through queuePush.
    void connectPushes(ProjectObject* program);
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
    // Set at start-up and cleared by destroy() on the GUI thread while the
    // HTTPS thread and the worker read it.
    std::atomic<SourceManager*> sourceManager { nullptr };
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
    // Held (shared) by the savers of program files while they write, and
    // (alone) by the removal of a program's folder.
    QReadWriteLock foldersLock;
    // Last, so it is stopped (everything marked written) before the members
    // its writers read go. Several savers: each write waits for the disk.
    SaveQueue saves { "program saver", 4 };

    // ---- Control API request handlers ----
    // Called by the HTTPS routes on the HTTPS thread (the WebSocket requests
    // on the worker thread). Each returns its reply envelope; nothing throws.
public:
    // Verifies the "app" header value: a logged-in user name and token. A
    // control panel (no login, "terminalType" in the header) passes only
    // when panelOperation is set. Fills username and token from the header
    // and msg on failure.
    bool checkToken(
        const QByteArray& app, QString& msg, QString& username, QString& token, bool panelOperation = false);
    // The request's parameters: a POST's JSON (or form) body, a GET's query.
    QJsonObject messageParsing(const HttpRequest& request);

    QJsonObject getUserResult(USERTYPE type, const HttpRequest& request);
    // The login route: getUserResult's login, answered at once when no
    // password hash is needed, else later (responder.later()), once the
    // users manager's hash threads have checked it; the HTTPS thread serves
    // on meanwhile.
    QJsonObject userLogin(const HttpRequest& request, HttpResponder& responder);
    // A change made on the GUI thread (a window's change or close, a
    // program's removal) is answered from there (responder.later()), once it
    // is made and its files are marked: what was acknowledged is what the
    // saver writes. Every other operation is answered with the object returned.
    QJsonObject getProgramResult(PROGRAMTYPE type, const HttpRequest& request, HttpResponder& responder);
    // Queues change to the GUI thread and answers the request from there
    // with the reply change returns.
    void answerFromGuiThread(HttpResponder& responder, std::function<QJsonObject()> change);
    QJsonObject getProgramStatus(const HttpRequest& request);
    QJsonObject getWindowResult(WINDOWTYPE type, const HttpRequest& request, HttpResponder& responder);
    QJsonObject getGridResult(GRIDTYPE type, const HttpRequest& request);
    QJsonObject getPresetResult(PRESETTYPE type, const HttpRequest& request);
    QJsonObject getSourceResult(SOURCETYPE type, const HttpRequest& request);
    // One source group's settings; {"result": "error"} without a source manager.
    QJsonObject getSourceList(const QJsonObject& request);
    QJsonObject getTakeResult(TAKETYPE type, const HttpRequest& request);
    void getSourceGroups(QJsonObject& out) override;
    void refreshSourcelist();
    void getTallyStates(const QString& pro_id, QJsonObject& out) override;
    void setPtzStates(const QString& pro_id, const QJsonObject& message, QJsonObject& out) override;
    void setTakeStates(const QString& pro_id, const QJsonObject& message, QJsonObject& out) override;
    void switchSource(const QJsonObject& message, QJsonObject& out) override;
    QJsonObject getSdp(const HttpRequest& request);
    QJsonObject removeSession(const HttpRequest& request);

    QJsonObject qrCodeGetting();
    QJsonObject processLanguage(const HttpRequest& request);
    QJsonObject getScreenList();
    QJsonObject getOutputList();
    QJsonObject resolutionList();
    QJsonObject frameRateList();
    QJsonObject templateJson();
    QJsonObject getTakeTransitions();

    // Assigns or moves a source between positions of one program; on success
    // pro_id and win_id name the program and window that changed. The caller
    // holds programsMutex. msg, when given, receives the take's message
    // key of an assignment that cuts to the program bus.
    bool setSource(const QJsonObject& request, QString& pro_id, QString& win_id, QString* msg = nullptr);

    // The operations a hardware control panel performs: take, source
    // switching, number ranges and PTZ.
    static bool isPanelOperation(GRIDTYPE type);
    static bool isPanelOperation(TAKETYPE type);

private:
    bool verifyCaller(const HttpRequest& request, QString& msg, QString& username, QString& token, bool panelOperation);
    // Whether the logged-in caller may add, change or remove the account a
    // user request names: the admin role manages every account, anybody
    // else only their own, without a role change. Long names are refused.
    bool userChangeAllowed(USERTYPE type, const QString& caller, QJsonObject& body, QString& msg);
    // Opens the body's "url" with the desktop's default handler; http and
    // https pages only.
    bool openWebPage(const QJsonObject& body);

    // The live program a request's pro_id names; null for an empty id, one
    // no program holds, or a value that is no JSON string. Callers hold
    // programsMutex for as long as they use the program.
    QSharedPointer<ProjectObject> requestProgram(const QString& pro_id);

    // Program operations; the caller holds programsMutex.
    bool checkAddProValid(const QJsonObject& request, QString& msg);
    bool checkRemoveProValid(const QString& pro_id, QString& msg);
    bool setProgramParam(const QJsonObject& request, QString& msg);
    QJsonObject getProgramParam(const QString& pro_id);
    bool setProgramName(const QJsonObject& request, QString& msg);
    bool setProgramStatus(const QJsonObject& request, QString& msg);
    bool switchProgram(const QString& pro_id, QString& msg);
    // True when renaming pro_id to name would give two programs one name.
    bool programNameTaken(const QString& pro_id, const QString& name) const;

    // Window checks of the program pro_id names.
    bool checkAddWinValid(const QJsonObject& request, const QString& pro_id, QString& msg);
    bool checkRemoveWinValid(const QJsonObject& request, const QString& pro_id, QString& msg);
};
