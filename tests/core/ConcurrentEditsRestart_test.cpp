// The built application under many clients at once: eight HTTPS
// connections, each on its own thread, make fifty mixed edits (presets added,
// renamed and removed, windows added, layouts changed, take settings), the
// application is stopped with SIGTERM right after the last reply and started
// again. Everything that was acknowledged "ok" is there, and nothing else.
#include "../http/HttpTestClient.h"
#include "../server/ServerTestKit.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDataStream>
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
        m_listening = testsupport::waitFor(
            [&] {
                return (accepts(httpPort) && accepts(websocketPort)) || m_process.state() == QProcess::NotRunning;
            },
            60000)
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
        return m_process.waitForFinished(testsupport::budgetMs(20000)) && m_process.exitStatus() == QProcess::NormalExit;
    }

private:
    QProcess m_process;
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
            m_http, "/api/v2/users/login.json", { { "username", "admin" }, { "password", "vexmo" } });
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
        return servertest::post(m_http, "/api/v2" + path, body, m_header);
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
void edit(quint16 port, const QByteArray& header, int c, const QString& shared, const QString& own,
    Acknowledged& done)
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
            acknowledged = api.ok("/take/set_params.json", { { "pro_id", own }, { "time", i }, { "select", 1 + i % 7 } });
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

TEST(ConcurrentEditsRestart, EverythingAcknowledgedIsThereAfterSigtermAndRestartAndNothingElse)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const quint16 httpPort = testsupport::freePort();
    quint16 websocketPort = testsupport::freePort();
    while (websocketPort == httpPort)
        websocketPort = testsupport::freePort();

    QString shared;
    QStringList own;
    std::vector<Acknowledged> done(kConnections);
    {
        Application app(home.path(), httpPort, websocketPort);
        ASSERT_TRUE(app.listening());
        Api setup;
        ASSERT_TRUE(setup.open(httpPort));
        for (int c = -1; c < kConnections; ++c) {
            const QString name = c < 0 ? QString("Shared") : QString("Own %1").arg(c);
            ASSERT_TRUE(setup.ok("/program/add.json", { { "name", name }, { "frameRate", 25 }, { "resolution", resolution() } }));
        }
        QMap<QString, QString> programs;
        ASSERT_TRUE(testsupport::waitFor([&] {
            programs.clear();
            for (const QJsonValue& p : setup.post("/program/list.json", {}).value("data").toArray())
                programs.insert(p.toObject().value("name").toString(), p.toObject().value("pro_id").toString());
            return programs.size() == kConnections + 1;
        }));
        shared = programs.value("Shared");
        for (int c = 0; c < kConnections; ++c)
            own << programs.value(QString("Own %1").arg(c));

        std::vector<std::unique_ptr<QThread>> clients;
        for (int c = 0; c < kConnections; ++c) {
            clients.emplace_back(QThread::create(
                [&, c] { edit(httpPort, setup.header(), c, shared, own.at(c), done[size_t(c)]); }));
            clients.back()->start();
        }
        for (auto& client : clients)
            ASSERT_TRUE(client->wait(testsupport::budgetMs(120000)));
        int edits = 0;
        for (const Acknowledged& d : done)
            edits += d.edits;
        EXPECT_EQ(edits, kConnections * kEditsEach) << "every edit here is a valid one";
        ASSERT_TRUE(app.terminate());
    }

    Application again(home.path(), httpPort, websocketPort);
    ASSERT_TRUE(again.listening());
    Api api;
    ASSERT_TRUE(api.open(httpPort));
    servertest::WssClient listener;
    ASSERT_TRUE(listener.open(websocketPort));

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
            if (it.value() > 0)
                EXPECT_EQ(layoutCountOf(api, listener, shared, listedWindows.value(it.key())), it.value())
                    << it.key().toStdString();
        }
        EXPECT_EQ(api.post("/take/get.json", { { "pro_id", own.at(c) } }).value("data").toObject(),
            (QJsonObject { { "time", d.takeTime }, { "select", d.takeSelect } }))
            << "connection " << c;
    }
    EXPECT_EQ(api.post("/program/list.json", {}).value("data").toArray().size(), kConnections + 1);
    EXPECT_TRUE(again.terminate());
}

} // namespace
