// The built application under many clients at once: eight HTTPS
// connections, each on its own thread, make fifty mixed edits (presets added,
// renamed and removed, windows added, layouts changed, take settings), the
// application is stopped with SIGTERM right after the last reply and started
// again. Everything that was acknowledged "ok" is there, and nothing else.
// The same holds for a SIGKILL, which runs no shutdown, once the application
// has logged that its savers were idle after the last acknowledgement: renames
// of programs, windows, presets and source groups, removals of presets and
// source groups, take settings. A window's change is made on the GUI thread
// and answered from there, so its name counts from the reply on like any other.
#include "../http/HttpTestClient.h"
#include "../server/ServerTestKit.h"

#include "AppProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <memory>
#include <vector>

namespace {

constexpr int kConnections = 8;
// A request may wait seconds for the program map while a program is built
// (sanitized, on a busy machine); a reply read late would answer the next one.
constexpr int kReplyMs = 60000;
constexpr int kEditsEach = 50;

// One run of the executable in `home`, listening on the given ports.
class Application {
public:
    Application(const QString& home, quint16 httpPort, quint16 websocketPort)
    {
        const QString settings = home + "/AppData/Local/Panoptra_Pro/general";
        QDir().mkpath(settings);
        QFile config(settings + "/device.cfg");
        if (config.open(QIODevice::WriteOnly)) {
            QDataStream out(&config);
            out << qint32(httpPort) << qint32(websocketPort) << qint32(0);
        }
        config.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("PANOPTRA_NDI_DIR", home + "/ndi"); // no sources of other runs
        // Leaks at exit are the start-up test's business; this one looks at the stored state.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(testsupport::binDir() + "/Panoptra_Pro", QStringList());
        // Both servers: the WebSocket server may start listening a moment
        // after the HTTPS one.
        const auto accepts = [](quint16 port) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(100);
        };
        m_listening
            = testsupport::waitFor(
                  [&] {
                      return (accepts(httpPort) && accepts(websocketPort)) || m_process.state() == QProcess::NotRunning;
                  },
                  120000)
            && m_process.state() == QProcess::Running;
    }
    ~Application()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    bool listening() const { return m_listening; }
    bool terminate()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        return m_process.waitForFinished(testsupport::budgetMs(20000))
            && m_process.exitStatus() == QProcess::NormalExit;
    }
    bool killHard()
    {
        ::kill(pid_t(m_process.processId()), SIGKILL);
        return m_process.waitForFinished(testsupport::budgetMs(20000));
    }

private:
    testsupport::ChildProcess m_process;
    bool m_listening = false;
};

// A logged-in JSON client of the API. One login serves every connection:
// a user has one session, a second login would end the first.
class Api {
public:
    bool open(quint16 port)
    {
        if (!m_http.connectTo(port))
            return false;
        const QJsonObject reply = servertest::post(
            m_http, "/api/v2/users/login.json", { { "username", "admin" }, { "password", "vexmo" } }, {}, kReplyMs);
        m_header = servertest::appHeader("admin", reply.value("data").toObject().value("token").toString());
        return reply.value("result").toString() == "ok";
    }
    bool open(quint16 port, const QByteArray& header)
    {
        m_header = header;
        return m_http.connectTo(port);
    }
    QByteArray header() const { return m_header; }
    QJsonObject post(const QByteArray& path, const QJsonObject& body)
    {
        return servertest::post(m_http, "/api/v2" + path, body, m_header, kReplyMs);
    }
    bool ok(const QByteArray& path, const QJsonObject& body)
    {
        return post(path, body).value("result").toString() == "ok";
    }
    // name -> id of a list reply's entries.
    QMap<QString, QString> named(const QByteArray& path, const QString& pro, const char* idKey)
    {
        QMap<QString, QString> ids;
        for (const QJsonValue& entry : post(path, { { "pro_id", pro } }).value("data").toArray())
            ids.insert(entry.toObject().value("name").toString(), entry.toObject().value(idKey).toString());
        return ids;
    }

private:
    httptest::Client m_http;
    QByteArray m_header;
};

QJsonObject resolution()
{
    return { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.7778 } };
}

// What one connection had acknowledged.
struct Acknowledged {
    QStringList presets; // alive, oldest first
    QMap<QString, int> windows; // name -> position count of its last acknowledged layout (0: none)
    int takeTime = -1, takeSelect = -1;
    int edits = 0;
};

// The fifty edits of connection c: presets on the shared program, windows
// and their layouts on it too, take settings on the connection's own program.
void edit(quint16 port, const QByteArray& header, int c, const QString& shared, const QString& own, Acknowledged& done)
{
    Api api;
    if (!api.open(port, header))
        return;
    for (int i = 0; i < kEditsEach; ++i) {
        const QString tag = QString("c%1-%2").arg(c).arg(i);
        int kind = i % 10;
        QString latestWindow;
        for (auto it = done.windows.cbegin(); it != done.windows.cend(); ++it)
            latestWindow = it.key();
        if ((kind == 6 || kind == 9) && latestWindow.isEmpty())
            kind = 0;
        if (kind == 7 && done.windows.size() >= 2)
            kind = 0;
        if ((kind == 2 || kind == 3) && done.presets.isEmpty())
            kind = 0;

        bool acknowledged = false;
        if (kind == 2 || kind == 3) {
            const QString target = kind == 2 ? done.presets.last() : done.presets.first();
            const QString layout_id = api.named("/layout/list.json", shared, "layout_id").value(target);
            if (kind == 2) {
                const QString renamed = "P " + tag;
                acknowledged = api.ok(
                    "/layout/rename.json", { { "pro_id", shared }, { "layout_id", layout_id }, { "name", renamed } });
                if (acknowledged)
                    done.presets.last() = renamed;
            } else {
                acknowledged = api.ok("/layout/remove.json", { { "pro_id", shared }, { "layout_id", layout_id } });
                if (acknowledged)
                    done.presets.removeFirst();
            }
        } else if (kind == 5 || kind == 8) {
            acknowledged
                = api.ok("/take/set_params.json", { { "pro_id", own }, { "time", i }, { "select", 1 + i % 7 } });
            if (acknowledged) {
                done.takeTime = i;
                done.takeSelect = 1 + i % 7;
            }
        } else if (kind == 6 || kind == 9) {
            // The window is made on the GUI thread after the reply: wait until it is listed.
            QString win_id;
            testsupport::waitFor(
                [&] {
                    win_id = api.named("/window/list.json", shared, "id").value(latestWindow);
                    return !win_id.isEmpty();
                },
                30000);
            const int count = 1 + i % 4;
            acknowledged = api.ok("/layout/modify.json",
                { { "pro_id", shared }, { "win_id", win_id }, { "layout_id", "" }, { "layout_count", count },
                    { "position", servertest::sidePositions(count) } });
            if (acknowledged)
                done.windows[latestWindow] = count;
        } else if (kind == 7) {
            const QString name = "W " + tag;
            acknowledged = api.ok("/window/add.json",
                { { "pro_id", shared }, { "win_id", "" }, { "name", name }, { "resolution", resolution() },
                    { "frameRate", 25 } });
            if (acknowledged)
                done.windows.insert(name, 0);
        } else {
            const QString name = "P " + tag;
            acknowledged = api.ok("/layout/add.json",
                { { "pro_id", shared }, { "name", name }, { "template_id", QString::number(1 + i % 11) } });
            if (acknowledged)
                done.presets.append(name);
        }
        done.edits += acknowledged ? 1 : 0;
    }
}

// The position count of a window's layout, from the grid push its switch sends.
int layoutCountOf(Api& api, servertest::WssClient& listener, const QString& pro, const QString& win_id)
{
    if (!api.ok("/window/switch.json", { { "pro_id", pro }, { "win_id", win_id }, { "session_id", "check" } }))
        return -1;
    for (QJsonObject message = listener.next(); !message.isEmpty(); message = listener.next()) {
        if (message.value("socket_type").toString() == "grid" && message.value("win_id").toString() == win_id)
            return message.value("data").toObject().value("layout").toArray().size();
    }
    return -2;
}

// One home folder and one pair of ports for the application's two runs.
class ConcurrentEditsRestart : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        m_httpPort = testsupport::freePort();
        m_websocketPort = testsupport::freePort();
        while (m_websocketPort == m_httpPort)
            m_websocketPort = testsupport::freePort();
    }

    QString home() const { return m_home.path(); }
    std::unique_ptr<Application> start() const
    {
        return std::make_unique<Application>(m_home.path(), m_httpPort, m_websocketPort);
    }

    // Adds a program for each name and waits until each is listed with its
    // first window ("Main"); name -> pro_id.
    static QMap<QString, QString> addPrograms(Api& api, const QStringList& names)
    {
        for (const QString& name : names) {
            if (!api.ok("/program/add.json", { { "name", name }, { "frameRate", 25 }, { "resolution", resolution() } }))
                return {};
        }
        QMap<QString, QString> programs;
        const bool listed = testsupport::waitFor(
            [&] {
                programs.clear();
                for (const QJsonValue& p : api.post("/program/list.json", {}).value("data").toArray())
                    programs.insert(p.toObject().value("name").toString(), p.toObject().value("pro_id").toString());
                return std::all_of(names.begin(), names.end(), [&](const QString& name) {
                    return programs.contains(name)
                        && api.named("/window/list.json", programs.value(name), "id").contains("Main");
                });
            },
            120000);
        return listed ? programs : QMap<QString, QString>();
    }

    quint16 m_httpPort = 0;
    quint16 m_websocketPort = 0;

private:
    QTemporaryDir m_home;
};

TEST_F(ConcurrentEditsRestart, EverythingAcknowledgedIsThereAfterSigtermAndRestartAndNothingElse)
{
    QString shared;
    QStringList own;
    std::vector<Acknowledged> done(kConnections);
    {
        const std::unique_ptr<Application> app = start();
        ASSERT_TRUE(app->listening());
        Api setup;
        ASSERT_TRUE(setup.open(m_httpPort));
        QStringList names { "Shared" };
        for (int c = 0; c < kConnections; ++c)
            names << QString("Own %1").arg(c);
        const QMap<QString, QString> programs = addPrograms(setup, names);
        ASSERT_EQ(programs.size(), kConnections + 1);
        shared = programs.value("Shared");
        for (int c = 0; c < kConnections; ++c)
            own << programs.value(QString("Own %1").arg(c));

        std::vector<std::unique_ptr<QThread>> clients;
        for (int c = 0; c < kConnections; ++c) {
            clients.emplace_back(
                QThread::create([&, c] { edit(m_httpPort, setup.header(), c, shared, own.at(c), done[size_t(c)]); }));
            clients.back()->start();
        }
        for (auto& client : clients)
            ASSERT_TRUE(client->wait(testsupport::budgetMs(120000)));
        int edits = 0;
        for (const Acknowledged& d : done)
            edits += d.edits;
        EXPECT_EQ(edits, kConnections * kEditsEach) << "every edit here is a valid one";
        ASSERT_TRUE(app->terminate());
    }

    const std::unique_ptr<Application> again = start();
    ASSERT_TRUE(again->listening());
    Api api;
    ASSERT_TRUE(api.open(m_httpPort));
    servertest::WssClient listener;
    // Its handshake runs on the controller's worker, which a busy machine may hold up.
    ASSERT_TRUE(testsupport::waitFor([&] { return listener.open(m_websocketPort); }, 60000));

    QSet<QString> presets, windows { "Main" };
    for (const Acknowledged& d : done) {
        presets += QSet<QString>(d.presets.begin(), d.presets.end());
        for (auto it = d.windows.cbegin(); it != d.windows.cend(); ++it)
            windows << it.key();
    }
    const QMap<QString, QString> listedPresets = api.named("/layout/list.json", shared, "layout_id");
    EXPECT_EQ(QSet<QString>(listedPresets.keyBegin(), listedPresets.keyEnd()), presets);
    const QMap<QString, QString> listedWindows = api.named("/window/list.json", shared, "id");
    EXPECT_EQ(QSet<QString>(listedWindows.keyBegin(), listedWindows.keyEnd()), windows);

    for (int c = 0; c < kConnections; ++c) {
        const Acknowledged& d = done[size_t(c)];
        for (auto it = d.windows.cbegin(); it != d.windows.cend(); ++it) {
            if (it.value() > 0) {
                EXPECT_EQ(layoutCountOf(api, listener, shared, listedWindows.value(it.key())), it.value())
                    << it.key().toStdString();
            }
        }
        EXPECT_EQ(api.post("/take/get.json", { { "pro_id", own.at(c) } }).value("data").toObject(),
            (QJsonObject { { "time", d.takeTime }, { "select", d.takeSelect } }))
            << "connection " << c;
    }
    EXPECT_EQ(api.post("/program/list.json", {}).value("data").toArray().size(), kConnections + 1);
    EXPECT_TRUE(again->terminate());
}

// What one connection of the kill run acknowledged about its own program
// and its own source groups.
struct Owned {
    QString pro_id, programName, windowName;
    QStringList presets, groups; // alive, oldest first
    QStringList removedPresets, removedGroups;
    int takeTime = -1, takeSelect = -1;
    int edits = 0;
};

constexpr int kKillConnections = 4;
constexpr int kKillEditsEach = 30;

QJsonObject autoGroup(const QString& name)
{
    return { { "disc_name", name }, { "disc_type", "Auto" }, { "group", QJsonArray { "public" } },
        { "discovery_enable", false }, { "discovery_ip", "" } };
}

// name -> disc_id of the listed source groups.
QMap<QString, QString> sourceGroups(Api& api)
{
    QMap<QString, QString> ids;
    for (const QJsonValue& group : api.post("/source/list.json", {}).value("data").toArray())
        ids.insert(group.toObject().value("disc_name").toString(), group.toObject().value("disc_id").toString());
    return ids;
}

// Renames of the program, its "Main" window and its presets; presets and
// source groups added and removed; take settings. Every edit names only what
// this connection owns, so its last acknowledged value is the stored one.
void editOwn(quint16 port, const QByteArray& header, int c, Owned& own)
{
    Api api;
    if (!api.open(port, header))
        return;
    for (int i = 0; i < kKillEditsEach; ++i) {
        const QString tag = QString("k%1-%2").arg(c).arg(i);
        bool acknowledged = false;
        switch (i % 6) {
        case 0:
        case 1:
        case 2: {
            // Adds, and with two or more presets, renames of the newest and
            // removals of the oldest.
            if (own.presets.size() < (i % 6 == 2 ? 2 : 1) || i % 6 == 0) {
                acknowledged = api.ok("/layout/add.json",
                    { { "pro_id", own.pro_id }, { "name", "P " + tag },
                        { "template_id", QString::number(1 + i % 11) } });
                if (acknowledged)
                    own.presets.append("P " + tag);
                break;
            }
            const QString target = i % 6 == 1 ? own.presets.last() : own.presets.first();
            const QString layout_id = api.named("/layout/list.json", own.pro_id, "layout_id").value(target);
            if (i % 6 == 1) {
                acknowledged = api.ok("/layout/rename.json",
                    { { "pro_id", own.pro_id }, { "layout_id", layout_id }, { "name", "R " + tag } });
                if (acknowledged)
                    own.presets.last() = "R " + tag;
            } else {
                acknowledged = api.ok("/layout/remove.json", { { "pro_id", own.pro_id }, { "layout_id", layout_id } });
                if (acknowledged)
                    own.removedPresets << own.presets.takeFirst();
            }
            break;
        }
        case 3: {
            acknowledged = api.ok("/program/rename.json", { { "pro_id", own.pro_id }, { "name", "Own " + tag } });
            if (acknowledged)
                own.programName = "Own " + tag;
            const QString win_id = api.named("/window/list.json", own.pro_id, "id").value(own.windowName);
            if (acknowledged && !win_id.isEmpty()
                && api.ok("/window/set_param.json",
                    { { "pro_id", own.pro_id }, { "win_id", win_id }, { "name", "W " + tag },
                        { "resolution", resolution() }, { "frameRate", 25 } }))
                own.windowName = "W " + tag;
            break;
        }
        case 4:
            acknowledged
                = api.ok("/take/set_params.json", { { "pro_id", own.pro_id }, { "time", i }, { "select", 1 + i % 7 } });
            if (acknowledged) {
                own.takeTime = i;
                own.takeSelect = 1 + i % 7;
            }
            break;
        case 5:
            if (i % 12 == 5 || own.groups.isEmpty()) {
                acknowledged = api.ok("/source/add.json", autoGroup("G " + tag));
                if (acknowledged)
                    own.groups.append("G " + tag);
            } else if (i % 24 == 11) {
                QJsonObject renamed = autoGroup("H " + tag);
                renamed.insert("disc_id", sourceGroups(api).value(own.groups.last()));
                acknowledged = api.ok("/source/modify.json", renamed);
                if (acknowledged)
                    own.groups.last() = "H " + tag;
            } else {
                acknowledged
                    = api.ok("/source/remove.json", { { "disc_id", sourceGroups(api).value(own.groups.first()) } });
                if (acknowledged)
                    own.removedGroups << own.groups.takeFirst();
            }
            break;
        }
        own.edits += acknowledged ? 1 : 0;
    }
}

// The newest time (ms since the epoch) at which the saver `name` logged that
// it had written everything marked so far; 0 when it has not logged that.
qint64 lastIdle(const QString& home, const QString& name)
{
    qint64 newest = 0;
    const QString marker = "state saves idle: " + name + " at ";
    for (const QString& file : apptest::logFiles(home)) {
        for (const QString& line : apptest::logLines(home, file)) {
            const int at = line.indexOf(marker);
            if (at >= 0)
                newest = std::max(newest, line.mid(at + marker.size()).trimmed().toLongLong());
        }
    }
    return newest;
}

TEST_F(ConcurrentEditsRestart, EverythingAcknowledgedBeforeTheSaversWereIdleSurvivesSigkill)
{
    std::vector<Owned> owned(kKillConnections);
    {
        const std::unique_ptr<Application> app = start();
        ASSERT_TRUE(app->listening());
        Api setup;
        ASSERT_TRUE(setup.open(m_httpPort));
        QStringList names;
        for (int c = 0; c < kKillConnections; ++c)
            names << QString("Own %1").arg(c);
        const QMap<QString, QString> programs = addPrograms(setup, names);
        ASSERT_EQ(programs.size(), kKillConnections);
        for (int c = 0; c < kKillConnections; ++c) {
            Owned& own = owned[size_t(c)];
            own.programName = names.at(c);
            own.pro_id = programs.value(own.programName);
            own.windowName = "Main";
        }

        std::vector<std::unique_ptr<QThread>> clients;
        for (int c = 0; c < kKillConnections; ++c) {
            clients.emplace_back(QThread::create([&, c] { editOwn(m_httpPort, setup.header(), c, owned[size_t(c)]); }));
            clients.back()->start();
        }
        for (auto& client : clients)
            ASSERT_TRUE(client->wait(120000));
        for (const Owned& own : owned)
            EXPECT_EQ(own.edits, kKillEditsEach) << "every edit here is a valid one";

        // Every acknowledgement is older than `acked`; one more edit for each
        // saver makes it log again after that. An idle mark taken later
        // means everything marked before it is in its file.
        const qint64 acked = QDateTime::currentMSecsSinceEpoch();
        Owned& last = owned.front();
        ASSERT_TRUE(setup.ok("/take/set_params.json", { { "pro_id", last.pro_id }, { "time", 99 }, { "select", 2 } }));
        last.takeTime = 99;
        last.takeSelect = 2;
        ASSERT_TRUE(setup.ok("/source/add.json", autoGroup("Last")));
        last.groups << "Last";
        ASSERT_TRUE(testsupport::waitFor(
            [&] { return lastIdle(home(), "program saver") > acked && lastIdle(home(), "sources saver") > acked; },
            30000))
            << "the savers never said they were idle after the last acknowledgement";
        ASSERT_TRUE(app->killHard());
    }

    const std::unique_ptr<Application> again = start();
    ASSERT_TRUE(again->listening());
    Api api;
    ASSERT_TRUE(api.open(m_httpPort));
    QMap<QString, QString> programNames;
    for (const QJsonValue& p : api.post("/program/list.json", {}).value("data").toArray())
        programNames.insert(p.toObject().value("pro_id").toString(), p.toObject().value("name").toString());
    QSet<QString> groups { "auto-discovery" };
    for (const Owned& own : owned) {
        const std::string who = own.programName.toStdString();
        EXPECT_EQ(programNames.value(own.pro_id), own.programName);
        const QMap<QString, QString> presets = api.named("/layout/list.json", own.pro_id, "layout_id");
        EXPECT_EQ(
            QSet<QString>(presets.keyBegin(), presets.keyEnd()), QSet<QString>(own.presets.begin(), own.presets.end()))
            << who << ": removed presets back: " << QStringList(own.removedPresets).join(", ").toStdString();
        const QMap<QString, QString> windows = api.named("/window/list.json", own.pro_id, "id");
        EXPECT_EQ(windows.keys(), QStringList { own.windowName }) << who;
        EXPECT_EQ(api.post("/take/get.json", { { "pro_id", own.pro_id } }).value("data").toObject(),
            (QJsonObject { { "time", own.takeTime }, { "select", own.takeSelect } }))
            << who;
        groups += QSet<QString>(own.groups.begin(), own.groups.end());
        EXPECT_FALSE(own.removedGroups.isEmpty() || own.removedPresets.isEmpty()) << "the burst removes both kinds";
    }
    const QMap<QString, QString> listedGroups = sourceGroups(api);
    EXPECT_EQ(QSet<QString>(listedGroups.keyBegin(), listedGroups.keyEnd()), groups);
    EXPECT_TRUE(again->terminate());
}

} // namespace
