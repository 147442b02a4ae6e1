#include "BaseConfig.h"

#include "base/ApiReplies.h"
#include "base/BusIds.h"
#include "base/ThreadCheck.h"

#include "api/UsersManager.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "model/LayoutTemplate.h"
#include "model/ProjectObject.h"
#include "output/MediaOutputManager.h"
#include "server/WebSocketServer.h"
#include "sources/MediaConnection.h"
#include "sources/ServedSources.h"
#include "sources/SourceManager.h"
#include "webrtc/WebrtcManager.h"

#include <QAudioDeviceInfo>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QReadWriteLock>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

#include <algorithm>

namespace {

// Loading and new programs use this address until the main window reports the real one.
const QString kPlaceholderWebUrl = QStringLiteral("https://127.0.0.1:65532/");

QString programsRoot()
{
    return g_savePath + QStringLiteral("/programs");
}

QString programDir(const QString& pro_id)
{
    return programsRoot() + QStringLiteral("/program_") + pro_id;
}

QString programListPath()
{
    return g_savePath + QStringLiteral("/programs.json");
}

// A program id becomes part of a folder path: only decimal digits qualify.
bool isProgramId(const QString& pro_id)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(pro_id).hasMatch();
}

// A list that cannot be read is kept for the operator instead of being
// overwritten by the next save, which would lose its programs for good.
void moveListAside(const QString& path)
{
    const QString aside
        = path + QStringLiteral(".bad-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss_zzz"));
    if (QFile::rename(path, aside))
        qWarning() << "programs list kept as" << aside;
    else
        qWarning() << "programs list could not be moved aside:" << path;
}

} // namespace

bool compareProData(const QString& a, const QString& b)
{
    return compareData(a, b); // program ids order like window ids
}

BaseConfig* BaseConfig::getInstance()
{
    static BaseConfig* const controller = [] {
        static BaseConfig made;
        // The WebSocket servers answer from this controller; the mixers and
        // PTZ control act on the connections of its table, whichever manager
        // it holds at the time.
        WebSocketServer::setRequests(&made);
        ServedSources::install([](const QString& source) -> std::shared_ptr<MediaConnection> {
            SourceManager* manager = made.getSourceManager();
            return manager ? manager->getConnection(source) : nullptr;
        });
        return &made;
    }();
    return controller;
}

BaseConfig::BaseConfig()
    : workerThread(new QThread(this))
    , sourceTimer(new QTimer)
{
    qDebug() << "BaseConfig " << QThread::currentThreadId();
    usersManager = new UsersManager;
    layoutTemplate = new LayoutTemplate;

    qRegisterMetaType<PROGRAMTYPE>("PROGRAMTYPE");
    qRegisterMetaType<WINDOWTYPE>("WINDOWTYPE");
    qRegisterMetaType<GRIDTYPE>("GRIDTYPE");
    qRegisterMetaType<PRESETTYPE>("PRESETTYPE");

    workerThread->setObjectName("controller worker");
    sourceTimer->moveToThread(workerThread);
    sourceTimer->setInterval(2000);
    connect(workerThread, &QThread::started, sourceTimer, qOverload<>(&QTimer::start));
    connect(workerThread, &QThread::finished, sourceTimer, &QTimer::stop);
    connect(sourceTimer, &QTimer::timeout, this, &BaseConfig::updateSource, Qt::DirectConnection);
}

BaseConfig::~BaseConfig()
{
    saves.drain(); // while the programs are there to be written
    stopWorker();
    // The application tears down through destroy(); a controller made by a
    // test may go without it.
    {
        QMutexLocker lock(&programsMutex);
        programs.clear();
    }
    delete usersManager;
    delete layoutTemplate;
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
    language
        = QSettings(g_savePath + "/lang.ini", QSettings::IniFormat).value("ChangeLanguage/Language", "en").toString();
    emit langChanged(language);

    initWebSocket();
    qDebug() << "init websocket. ";

    if (usersManager) {
        usersManager->initDataBase();
        qDebug() << "init users. ";
    }

    if (webrtcManager) {
        webrtcManager->init();
        qDebug() << "init webrtc. ";
    }

    load();
    qDebug() << "load projects. ";
    return true;
}

void BaseConfig::initWebSocket()
{
    if (!webSocketServer) {
        webSocketServer = WebSocketServer::instance();
        if (workerThread)
            WebSocketServer::instance()->moveToThread(workerThread);
    }
}

QSharedPointer<ProjectObject> BaseConfig::makeProgram(const QString& pro_id)
{
    QSharedPointer<ProjectObject> program(new ProjectObject(&programsMutex));
    connectPushes(program.data());
    program->setSaveRequest(
        [this, pro_id](ProjectObject::StateFile kind, const QString& id) { saveProgramFileLater(pro_id, kind, id); });
    programs.insert(pro_id, program);
    return program;
}

bool BaseConfig::load()
{
    QStringList knownIds;
    // Stray folders go only when the list was read: a list that could not be
    // read says nothing about which folders belong to programs.
    bool listRead = true;

    const QString listPath = programListPath();
    if (QFileInfo::exists(listPath)) {
        bool parsed = false;
        const QJsonObject root = JsonFile::load(listPath, &parsed);
        if (!parsed || !root.value("data").isArray()) {
            qWarning() << "programs list unreadable, loading no program from it:" << listPath;
            listRead = false;
            moveListAside(listPath);
        }
        const QJsonArray records = root.value("data").toArray();
        for (const QJsonValue& value : records) {
            const QJsonObject record = value.toObject();
            if (!record.contains("pro_id"))
                continue;
            const QString pro_id = record.value("pro_id").toString();
            if (!isProgramId(pro_id)) {
                qWarning() << "programs list: skipped a program with the invalid id" << record.value("pro_id");
                continue;
            }
            QSharedPointer<ProjectObject> program = programs.value(pro_id);
            if (!program) {
                program = makeProgram(pro_id);
                program->setWebUrl(kPlaceholderWebUrl);
                program->setPath(programDir(pro_id));
                program->read(record);
            }
            programNames.insert(pro_id, program->getName());
            knownIds.append(pro_id);
            // A listed program holds its id even when its folder is missing.
            lastProId = std::max(lastProId, pro_id.toInt());
        }
    }

    QDir root(programsRoot());
    if (!root.exists())
        return true;
    const QStringList folders = root.entryList({ QStringLiteral("program_*") }, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& folder : folders) {
        if (!folder.contains('_'))
            continue;
        const QString id = folder.split('_').last();
        if (!BusId::isBus(id) && id.toInt() <= 0)
            continue;
        const QString folderPath = root.filePath(folder);
        if (!knownIds.contains(id)) {
            if (!listRead) {
                // Kept, and its id stays taken so no new program lands on it.
                if (!BusId::isBus(id))
                    lastProId = std::max(lastProId, id.toInt());
                continue;
            }
            QDir stray(folderPath);
            if (!stray.exists()) {
                qDebug() << "Directory does not exist.";
            } else if (!stray.removeRecursively()) {
                qDebug() << "Failed to remove the directory.";
            } else {
                qDebug() << "Directory removed successfully.";
            }
            continue;
        }
        if (!BusId::isBus(id))
            lastProId = std::max(lastProId, id.toInt());
        if (QSharedPointer<ProjectObject> program = programs.value(id)) {
            program->setPath(folderPath);
            program->load();
        }
    }
    return true;
}

void BaseConfig::openWindows()
{
    ASSERT_MAIN_THREAD("BaseConfig::openWindows");
    {
        QMutexLocker lock(&programsMutex);
        for (const QSharedPointer<ProjectObject>& program : qAsConst(programs)) {
            if (!program)
                continue;
            program->createAudioMixers();
            program->createWindows();
        }
    }
    if (!workerThread->isRunning())
        workerThread->start(QThread::InheritPriority);
}

void BaseConfig::stopWorker()
{
    if (!sourceTimer)
        return;
    if (workerThread->isRunning()) {
        // Posted behind whatever destroy() queued to the worker, so that runs first.
        QMetaObject::invokeMethod(
            sourceTimer, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
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

QSharedPointer<ProjectObject> BaseConfig::getProgram(const QString& pro_id)
{
    QMutexLocker lock(&programsMutex);
    return programs.value(pro_id);
}

QStringList BaseConfig::programIds()
{
    QMutexLocker lock(&programsMutex);
    return programs.keys();
}

int BaseConfig::getLastProId()
{
    QMutexLocker lock(&programsMutex);
    return lastProId;
}

void BaseConfig::connectPushes(ProjectObject* program)
{
    // queuePush posts to the server's thread; called directly, the program's
    // pushes keep their place among the ones the requests queue.
    connect(
        program, &ProjectObject::tallyChanged, this,
        [this](const QString& pro_id) { queuePush("sendTallyRequest", pro_id); }, Qt::DirectConnection);
    connect(
        program, &ProjectObject::gridChanged, this,
        [this](const QString& pro_id, const QString& win_id) { queuePush("sendGridRequest", pro_id, win_id); },
        Qt::DirectConnection);
}

void BaseConfig::queuePush(const char* slot, const QString& pro_id, const QString& win_id)
{
    WebSocketServer* server = webSocketServer;
    if (!server)
        return;
    if (pro_id.isNull())
        QMetaObject::invokeMethod(server, slot, Qt::QueuedConnection);
    else if (win_id.isNull())
        QMetaObject::invokeMethod(server, slot, Qt::QueuedConnection, Q_ARG(QString, pro_id));
    else
        QMetaObject::invokeMethod(server, slot, Qt::QueuedConnection, Q_ARG(QString, pro_id), Q_ARG(QString, win_id));
}

bool BaseConfig::addProgram(const QJsonObject& body, QString message)
{
    qDebug() << "add program ...";
    if (!body.value("name").isString() || !body.contains("resolution") || !body.contains("frameRate")) {
        qDebug() << "添加制作失败，参数缺失。";
        return false;
    }
    QString pro_id;
    {
        QMutexLocker lock(&programsMutex);
        // The id is used up even when the name is refused.
        pro_id = nextProgramId();
        const QString name = body.value("name").toString();
        if (programNameTaken(QString(), name)) {
            message = "program.nameError";
            return false;
        }
        programNames.insert(pro_id, name);
    }
    return createProgram(pro_id, body);
}

QString BaseConfig::nextProgramId()
{
    QMutexLocker lock(&programsMutex);
    // Skips an id whose folder is still on disk (kept from an unreadable
    // list, or not yet removed): a new program must not take over its files.
    QString pro_id;
    do {
        pro_id = QString::number(++lastProId);
    } while (programs.contains(pro_id) || QFileInfo::exists(programDir(pro_id)));
    return pro_id;
}

QString BaseConfig::reserveProgram(const QString& name)
{
    QMutexLocker lock(&programsMutex);
    QString pro_id = nextProgramId();
    programNames.insert(pro_id, name);
    return pro_id;
}

bool BaseConfig::createProgram(const QString& pro_id, const QJsonObject& body)
{
    ASSERT_MAIN_THREAD("BaseConfig::createProgram");
    const QString name = body.value("name").toString();
    const double frameRate = body.value("frameRate").toDouble();
    const QJsonObject resolution = body.value("resolution").toObject();
    if (!resolution.contains("width") || !resolution.contains("height") || !resolution.contains("index")
        || !resolution.contains("aspect")) {
        qDebug() << "添加制作失败，设置的分辨率参数不正确。";
        return false;
    }
    const double width = resolution.value("width").toDouble();
    const double height = resolution.value("height").toDouble();
    const int index = resolution.value("index").toInt();
    const double aspect = resolution.value("aspect").toDouble();

    // Built without the program-map lock: its mixers, windows, renderers and
    // encoders take seconds, and every request wants that lock. Nobody else
    // can reach the program before it is in the map, and it enters the map
    // finished, as if it had been built under the lock.
    QSharedPointer<ProjectObject> program(new ProjectObject(&programsMutex));
    connectPushes(program.data());
    program->setParams(pro_id, name, width, height, frameRate);
    program->setAspect(index, aspect);
    program->setPath(programDir(pro_id));
    program->setWebUrl(kPlaceholderWebUrl);
    program->createAudioMixers();
    program->createWindows();
    emit programBuilt(pro_id);
    {
        QMutexLocker lock(&programsMutex);
        programs.insert(pro_id, program);
    }

    queuePush("sendProgramRequest");
    return true;
}

bool BaseConfig::removeProgram(const QString& pro_id, const QString&)
{
    ASSERT_MAIN_THREAD("BaseConfig::removeProgram");
    QMutexLocker lock(&programsMutex);
    QSharedPointer<ProjectObject> program = programs.value(pro_id);
    if (!program) {
        qDebug() << "remove program: no program" << pro_id;
        return false;
    }
    program->destroy();
    program.reset();
    programs.remove(pro_id);
    programNames.remove(pro_id);
    queuePush("sendProgramRequest");
    return true;
}

// The window operations take the lock themselves and build a new window
// without it. The program stays alive meanwhile: only this thread removes
// programs.
bool BaseConfig::addWindow(const QString& pro_id, const QJsonObject& body, QString message)
{
    const QSharedPointer<ProjectObject> program = getProgram(pro_id);
    if (!program)
        return false;
    const bool done = program->setWindow(body, std::move(message));
    // The file is marked with the change, before anyone can list it.
    const QString win_id = body.value(QLatin1String("win_id")).toString();
    program->onWindowChanged(WINDOW_SET_PARAM, win_id.isEmpty() ? QString::number(program->getLastWinId()) : win_id);
    queuePush("sendWindowRequest", pro_id);
    return done;
}

bool BaseConfig::addReservedWindow(const QString& pro_id, const QString& win_id, const QJsonObject& body)
{
    ASSERT_MAIN_THREAD("BaseConfig::addReservedWindow");
    const QSharedPointer<ProjectObject> program = getProgram(pro_id);
    if (!program)
        return false;
    const bool done = program->addReservedWindow(win_id, body);
    if (!done)
        qWarning() << "window" << win_id << "of program" << pro_id << "could not be made";
    program->onWindowChanged(WINDOW_ADD, win_id);
    queuePush("sendWindowRequest", pro_id);
    return done;
}

bool BaseConfig::removeWindow(const QString& pro_id, const QJsonObject& body)
{
    ASSERT_MAIN_THREAD("BaseConfig::removeWindow");
    QMutexLocker lock(&programsMutex);
    QSharedPointer<ProjectObject> program = programs.value(pro_id);
    if (!program)
        return false;
    const bool done = program->onProcessClose(body);
    program->onWindowChanged(WINDOW_REMOVE, body.value(QLatin1String("win_id")).toString());
    queuePush("sendWindowRequest", pro_id);
    return done;
}

void BaseConfig::onProgramChanged(PROGRAMTYPE type, const QString& pro_id)
{
    if (type == PROGRAM_REMOVE)
        removeProgramFolderLater(pro_id);
    else if (QSharedPointer<ProjectObject> program = getProgram(pro_id))
        // An add's files; after any other change, the windows' files, which
        // carry the program's name and canvas (its presets carry neither).
        program->saveFilesLater(type == PROGRAM_ADD);
    saveProgramListLater();
}

void BaseConfig::saveProgramFileLater(const QString& pro_id, ProjectObject::StateFile kind, const QString& id)
{
    const char* kindName = kind == ProjectObject::StateFile::Window ? "window" : "preset";
    saves.mark(QStringLiteral("%1/%2/%3").arg(programDir(pro_id), kindName, id), [this, pro_id, kind, id] {
        // Files are written side by side; a folder removal waits for them,
        // and a file finds its program gone once the removal may run.
        QReadLocker folders(&foldersLock);
        if (QSharedPointer<ProjectObject> program = getProgram(pro_id))
            program->storeFile(kind, id);
    });
}

void BaseConfig::removeProgramFolderLater(const QString& pro_id)
{
    // The id comes from a request: it must be a program id.
    if (!isProgramId(pro_id))
        return;
    const QString folder = programDir(pro_id);
    saves.mark(folder, [this, pro_id, folder] {
        // No program may hold the id (a refused removal keeps its files).
        // Marks of the folder's files that come after this find no program
        // and store nothing, so the folder stays gone.
        QWriteLocker folders(&foldersLock);
        {
            QMutexLocker lock(&programsMutex);
            if (programs.contains(pro_id))
                return;
        }
        QDir dir(folder);
        if (dir.exists())
            dir.removeRecursively();
    });
}

void BaseConfig::saveProgramListLater()
{
    saves.mark(programListPath(), [this] { saveProgramList(); });
}

void BaseConfig::waitForSaves()
{
    saves.drain();
}

void BaseConfig::saveProgramList()
{
    QJsonArray records;
    {
        QMutexLocker lock(&programsMutex);
        for (auto it = programs.cbegin(); it != programs.cend(); ++it) {
            if (!it.value())
                continue;
            QJsonObject record;
            it.value()->write(record);
            records.append(record);
        }
    }
    QString error;
    if (!JsonFile::save(programListPath(), QJsonObject { { "data", records } }, &error))
        qWarning() << "programs list not saved:" << error;
}

void BaseConfig::changeUrl(const QString& url)
{
    ASSERT_MAIN_THREAD("BaseConfig::changeUrl");
    {
        QMutexLocker lock(&programsMutex);
        if (url == webUrl)
            return;
        webUrl = url;
    }
    queuePush("sendProgramRequest");
}

void BaseConfig::updateSource()
{
    if (WebSocketServer* server = webSocketServer)
        server->sendSourceRequest();
}

void BaseConfig::checkAudioDeviceValid()
{
    QtConcurrent::run(QThreadPool::globalInstance(), [this] { getAudioDevices(); });
}

void BaseConfig::getAudioDevices()
{
    const QList<QAudioDeviceInfo> devices = QAudioDeviceInfo::availableDevices(QAudio::AudioOutput);
    QMutexLocker lock(&programsMutex);
    if (devices.isEmpty()) {
        audioDeviceName.clear();
        return;
    }
    const QAudioDeviceInfo& first = devices.first();
    if (first.deviceName() == audioDeviceName)
        return;
    audioDeviceName = first.deviceName();
    for (const QSharedPointer<ProjectObject>& program : qAsConst(programs)) {
        if (program)
            program->changeAudioDevice(first);
    }
}

QJsonObject BaseConfig::programListJson()
{
    QMutexLocker lock(&programsMutex);
    QStringList ids = programs.keys();
    std::stable_sort(ids.begin(), ids.end(), compareProData);
    QJsonArray list;
    for (const QString& id : qAsConst(ids)) {
        const QSharedPointer<ProjectObject> program = programs.value(id);
        if (!program)
            return apireply::error();
        list.append(QJsonObject {
            { "pro_id", id },
            { "name", program->getName() },
            { "status", program->getStatus() },
            { "url", QStringLiteral("%1#/mobileLogin?pro_id=%3").arg(webUrl, id) },
        });
    }
    return apireply::ok(list);
}

void BaseConfig::getProgramRequest(QJsonObject& message)
{
    message = programListJson();
    message.insert("socket_type", "program");
}

QJsonObject BaseConfig::getWindowList(const QString& pro_id)
{
    QMutexLocker lock(&programsMutex);
    if (const QSharedPointer<ProjectObject> program = programs.value(pro_id))
        return program->getWindowList();
    return apireply::error();
}

void BaseConfig::getWindowRequest(QJsonObject& message, const QString& pro_id)
{
    message = getWindowList(pro_id);
    message.insert("socket_type", "window");
    message.insert("pro_id", pro_id);
}

template <typename Getter>
void BaseConfig::buildProgramMessage(
    QJsonObject& message, const char* kind, const QString& pro_id, const QString& win_id, bool withWinId, Getter getter)
{
    QMutexLocker lock(&programsMutex);
    const QSharedPointer<ProjectObject> program = programs.value(pro_id);
    if (!program) {
        apireply::addError(message);
        message.insert("socket_type", kind);
        return;
    }
    message = getter(*program);
    message.insert("pro_id", pro_id);
    if (withWinId)
        message.insert("win_id", win_id);
    message.insert("socket_type", kind);
}

void BaseConfig::getPresetRequest(QJsonObject& message, const QString& pro_id)
{
    buildProgramMessage(message, "preset", pro_id, QString(), false,
        [](const ProjectObject& program) { return program.getLayoutList(); });
}

void BaseConfig::getGridRequest(QJsonObject& message, const QString& pro_id, const QString& win_id)
{
    buildProgramMessage(message, "grid", pro_id, win_id, true,
        [&win_id](const ProjectObject& program) { return program.getLayoutParams(win_id); });
}

void BaseConfig::getControlRequest(QJsonObject& message, const QString& pro_id, const QString& win_id)
{
    buildProgramMessage(message, "tool_control", pro_id, win_id, true,
        [&win_id](const ProjectObject& program) { return program.getControlState(win_id); });
}

void BaseConfig::getLiveRequest(QJsonObject& message, const QString& pro_id, const QString& win_id)
{
    buildProgramMessage(message, "live", pro_id, win_id, true,
        [&win_id](const ProjectObject& program) { return program.getOutputType(win_id); });
}

void BaseConfig::getScreenRequest(QJsonObject& message, const QString& pro_id, const QString& win_id)
{
    buildProgramMessage(message, "screen", pro_id, win_id, true,
        [&win_id](const ProjectObject& program) { return program.getWinPosition(win_id); });
}

void BaseConfig::destroy()
{
    ASSERT_MAIN_THREAD("BaseConfig::destroy");
    qDebug() << "BaseConfig::destroy " << onMainThread();

    // Saves that acknowledged requests queued to this thread run before the
    // programs go: a stop right after an "ok" keeps what it acknowledged.
    // The controller's own first (it makes the windows and programs that
    // the programs' saves then write), then each program's.
    if (QThread::currentThread() == thread()) {
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        QMutexLocker lock(&programsMutex);
        for (const QSharedPointer<ProjectObject>& program : programs.values()) {
            if (program && program->thread() == thread())
                QCoreApplication::sendPostedEvents(program.data(), QEvent::MetaCall);
        }
    }
    // Then every file those and the requests before them marked, while the
    // programs are still in the map.
    saves.drain();
    qDebug() << "BaseConfig::destroy saves written." << onMainThread();

    if (audioCheckTimer && audioCheckTimer->isActive())
        audioCheckTimer->stop();
    qDebug() << "BaseConfig::destroy check audio timer done." << onMainThread();

    if (WebSocketServer* server = webSocketServer.exchange(nullptr))
        QMetaObject::invokeMethod(server, "onDestroyAll", Qt::QueuedConnection);
    qDebug() << "BaseConfig::destroy websocket done." << onMainThread();

    {
        // Programs leave the map only: their folders and the list stay, so
        // the next start brings every one of them back.
        QMutexLocker lock(&programsMutex);
        const QStringList ids = programs.keys();
        for (const QString& id : ids)
            removeProgram(id, QString());
        programs.clear();
    }
    qDebug() << "BaseConfig::destroy remove program done." << onMainThread();

    // The windows' network outputs end here, while the network backend still
    // runs, not in a destructor at process exit.
    MediaOutputManager::instance().destroy();
    qDebug() << "BaseConfig::destroy ndi outputs done." << onMainThread();

    delete usersManager;
    usersManager = nullptr;
    delete layoutTemplate;
    layoutTemplate = nullptr;

    if (SourceManager* manager = sourceManager.exchange(nullptr))
        manager->stopDiscover();
    qDebug() << "BaseConfig::destroy stop discover done." << onMainThread();

    if (webrtcManager) {
        webrtcManager->destroy();
        webrtcManager = nullptr;
    }
    qDebug() << "BaseConfig::destroy done" << onMainThread();
}
