// The source groups as browsers reach them: the HTTPS routes and the secure
// WebSocket push answer from a source manager of the test's own, which finds
// the test-source program's senders in a private registry folder. A camera
// command sent over HTTPS reaches the sender shown on a program bus.
#include "ServerTestKit.h"

#include "../ndi/NdiTestKit.h"

#include "api/UsersManager.h"
#include "app/BaseConfig.h"
#include "base/JsonFile.h"
#include "server/WebSocketServer.h"
#include "sources/MediaConnection.h"
#include "sources/SourceManager.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTimer>

#include <memory>
#include <vector>

using namespace servertest;

namespace {

QJsonObject parse(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

// The source names a source-groups object lists, by disc_id.
QMap<QString, QStringList> listing(const QJsonObject& groups)
{
    QMap<QString, QStringList> out;
    for (const QJsonValue& group : groups.value("data").toArray()) {
        QStringList names;
        for (const QJsonValue& source : group.toObject().value("sources").toArray())
            names << source.toObject().value("name").toString();
        out.insert(group.toObject().value("disc_id").toString(), names);
    }
    return out;
}

class SourceRoutes : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_home = new testsupport::TempHome;
        BaseConfig::getInstance()->getUsersManager()->initDataBase();
        s_routes = new HttpsRoutesThread;
    }
    static void TearDownTestSuite()
    {
        delete s_routes;
        BaseConfig::getInstance()->destroy();
        delete s_home;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_routes->listening());
        QFile::remove(s_home->savePath() + "/sources.json");
        // Made after the registry folder is set, so its finders look there.
        manager = std::make_unique<SourceManager>();
        manager->load();
        BaseConfig::getInstance()->setSourceManager(manager.get());
        ASSERT_TRUE(http.connectTo(quint16(g_httpPort)));
        QString admin;
        ASSERT_TRUE(loggedIn(http, &admin));
        token = appHeader("admin", admin);
    }
    void TearDown() override
    {
        BaseConfig::getInstance()->setSourceManager(nullptr);
        manager.reset();
    }

    QJsonObject sourcesFile()
    {
        bool ok = false;
        const QJsonObject stored = JsonFile::load(s_home->savePath() + "/sources.json", &ok);
        return ok ? stored : QJsonObject();
    }

    static testsupport::TempHome* s_home;
    static HttpsRoutesThread* s_routes;
    ndikit::ScopedRegistry registry;
    std::unique_ptr<SourceManager> manager;
    httptest::Client http;
    QByteArray token;
};
testsupport::TempHome* SourceRoutes::s_home = nullptr;
HttpsRoutesThread* SourceRoutes::s_routes = nullptr;

} // namespace

TEST_F(SourceRoutes, ListAndPushCarryFoundSourcesUntilARefreshAgesThemOut)
{
    // The WebSocket server on a worker, pushing the source groups every
    // 2000 ms as the controller's timer makes it.
    QThread worker;
    auto server = std::make_unique<WebSocketServer>(QHostAddress::LocalHost);
    ASSERT_TRUE(server->isListening());
    auto* pushTimer = new QTimer;
    pushTimer->setInterval(2000);
    QObject::connect(
        pushTimer, &QTimer::timeout, server.get(), &WebSocketServer::sendSourceRequest, Qt::DirectConnection);
    server->moveToThread(&worker);
    pushTimer->moveToThread(&worker);
    QObject::connect(&worker, &QThread::started, pushTimer, qOverload<>(&QTimer::start));
    QObject::connect(&worker, &QThread::finished, pushTimer, &QObject::deleteLater);
    worker.start();
    WssClient browser;
    ASSERT_TRUE(browser.open(server->serverPort()));

    manager->startDiscover();
    ndikit::TestSourceProcess program(4, "Live");
    for (int i = 1; i <= 4; ++i)
        ASSERT_TRUE(program.waitForLine(QStringLiteral("ready Live %1").arg(i)));
    const QStringList all { "Live 1", "Live 2", "Live 3", "Live 4" };

    QJsonObject listed;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            listed = post(http, "/api/v2/source/list.json", {});
            return listing(listed).value("1") == all;
        },
        1000))
        << QJsonDocument(listed).toJson().constData();
    EXPECT_EQ(listed.value("result"), QJsonValue("ok"));
    EXPECT_EQ(listed.value("socket_type"), QJsonValue("source"));
    EXPECT_EQ(listed.value("data").toArray().first().toObject().value("disc_name"), QJsonValue("auto-discovery"));

    // Pushes already under way may predate the discovery; the next one
    // (at most one period away) carries the sources.
    QJsonObject pushed;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            pushed = browser.next(0);
            return listing(pushed).value("1") == all;
        },
        3000));
    EXPECT_EQ(pushed, listed);

    program.process().terminate();
    ASSERT_TRUE(program.process().waitForFinished(testsupport::budgetMs(10000)));
    // Answered at once; the discovery thread remakes the finders later.
    EXPECT_EQ(post(http, "/api/v2/source/refresh.json", {}), (QJsonObject { { "result", "ok" } }));
    ASSERT_TRUE(testsupport::waitFor([&] { return !manager->getConnection("Live 1"); }, 15000));
    EXPECT_EQ(listing(post(http, "/api/v2/source/list.json", {})).value("1"), QStringList());

    browser.close();
    QMetaObject::invokeMethod(server.get(), "onDestroyAll", Qt::QueuedConnection);
    worker.quit();
    worker.wait();
    server.reset();
    manager->stopDiscover();
}

TEST_F(SourceRoutes, GroupOperationsAnswerAndSaveTheSourcesFile)
{
    const QJsonObject ok { { "result", "ok" } };
    const QJsonObject failed { { "result", "error" }, { "msg", "" } };
    const QJsonObject nameInUse { { "result", "error" }, { "msg", "discovery.nameError" } };
    struct Step {
        const char* what;
        const char* path; // under /api/v2/source/
        const char* body;
        QJsonObject reply;
        QStringList stored = {}; // the disc_ids in "sources.json" afterwards; empty: not looked at
    };
    const std::vector<Step> steps {
        { "an Auto group", "add",
            R"({"disc_name":"studio","disc_type":"Auto","group":["studio"],"discovery_enable":true,
                "discovery_ip":"127.0.0.1"})",
            ok, { "1", "2" } },
        // A name in use still uses up its number (3).
        { "a name in use", "add", R"({"disc_name":"studio","disc_type":"Manual","group":[],"ip":[]})", nameInUse },
        { "no disc_type", "add", R"({"disc_name":"other"})", failed },
        { "a Manual group", "add", R"({"disc_name":"desk","disc_type":"Manual","group":["",""],"ip":["127.0.0.1",""]})",
            ok, { "1", "2", "4" } },
        { "Manual without ip", "add", R"({"disc_name":"nope","disc_type":"Manual","group":[]})", failed },
        { "read back", "get_param", R"({"disc_id":"4"})",
            parse(R"({"result":"ok","data":{"disc_id":"4","disc_name":"desk","disc_type":"Manual",
                "group":[],"ip":["127.0.0.1"]}})") },
        { "read an unknown group", "get_param", R"({"disc_id":"99"})", parse(R"({"result":"ok","data":""})") },
        { "read without disc_id", "get_param", "{}", parse(R"({"result":"error"})") },
        { "rename to a name in use", "modify",
            R"({"disc_id":"2","disc_name":"desk","disc_type":"Auto","group":[],"discovery_enable":false,
                "discovery_ip":""})",
            nameInUse },
        { "change keeping the name", "modify",
            R"({"disc_id":"2","disc_name":"studio","disc_type":"Auto","group":["studio","news"],
                "discovery_enable":false,"discovery_ip":""})",
            ok },
        { "modify an unknown group", "modify",
            R"({"disc_id":"77","disc_name":"x","disc_type":"Auto","group":[],"discovery_enable":false,
                "discovery_ip":""})",
            failed },
        { "remove", "remove", R"({"disc_id":"4"})", ok, { "1", "2" } },
        { "remove again", "remove", R"({"disc_id":"4"})", failed },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const QByteArray path = QByteArray("/api/v2/source/") + step.path + ".json";
        EXPECT_EQ(post(http, path, parse(step.body)), (QJsonObject { { "result", "error" } })) << "without a login";
        EXPECT_EQ(post(http, path, parse(step.body), token), step.reply);
        if (step.stored.isEmpty())
            continue;
        // The manager writes the file on its own thread, this one, after the reply.
        QStringList ids;
        EXPECT_TRUE(testsupport::waitFor([&] {
            ids.clear();
            for (const QJsonValue& group : sourcesFile().value("data").toArray())
                ids << group.toObject().value("disc_id").toString();
            return ids == step.stored;
        })) << ids.join(',').toStdString();
    }

    // The modify reached the file too (it was saved with the later remove).
    EXPECT_EQ(sourcesFile(), parse(R"({"data":[
        {"disc_id":"1","name":"auto-discovery","disc_type":"Auto","auto_groups":"public","server_enable":false,
         "server_ip":"","manual_groups":"","manual_ips":""},
        {"disc_id":"2","name":"studio","disc_type":"Auto","auto_groups":"studio,news","server_enable":false,
         "server_ip":"","manual_groups":"","manual_ips":""}]})"));
    const QJsonObject listed = post(http, "/api/v2/source/list.json", {});
    EXPECT_EQ(listing(listed).keys(), (QStringList { "1", "2" }));
    EXPECT_EQ(listed.value("socket_type"), QJsonValue("source"));
}

TEST_F(SourceRoutes, CameraCommandReachesTheSourceOnTheProgramBus)
{
    manager->startDiscover();
    ndikit::TestSourceProcess camera(1, "Cam");
    ASSERT_TRUE(camera.waitForLine("ready Cam 1"));
    std::shared_ptr<MediaConnection> connection;
    ASSERT_TRUE(testsupport::waitFor([&] { return bool(connection = manager->getConnection("Cam 1")); }));

    const QStringList before = BaseConfig::getInstance()->programIds();
    ASSERT_EQ(post(http, "/api/v2/program/add.json",
                  { { "name", "Cameras" },
                      { "resolution",
                          QJsonObject { { "width", 1920 }, { "height", 1080 }, { "index", 2 }, { "aspect", 1.7778 } } },
                      { "frameRate", 30 } },
                  token),
        (QJsonObject { { "result", "ok" } }));
    QString pro;
    ASSERT_TRUE(testsupport::waitFor([&] {
        for (const QString& id : BaseConfig::getInstance()->programIds())
            if (!before.contains(id))
                pro = id;
        return !pro.isEmpty();
    }));
    const auto onPgm = [&](const QString& stream) {
        return post(http, "/api/v2/window/set_source.json",
            { { "pro_id", pro },
                { "to",
                    QJsonObject { { "pro_id", pro }, { "win_id", "pgm" }, { "type", "pgm" }, { "pos_id", 1 },
                        { "stream_id", stream } } } },
            token);
    };
    const auto zoom = [&](double value) {
        return post(http, "/api/v2/ptz/set.json",
            { { "pro_id", pro }, { "win_id", "pgm" }, { "pos_id", 1 }, { "type", "ptz_zoom" },
                { "data", QJsonObject { { "zoom_value", value } } } },
            token);
    };
    const QJsonObject ok { { "result", "ok" } };

    // A source nobody has discovered has no camera to steer.
    ASSERT_EQ(onPgm("Nowhere"), ok);
    EXPECT_EQ(zoom(0.25), (QJsonObject { { "result", "error" }, { "msg", "" } }));

    // Commands travel on an open stream; the test opens one as the bus's
    // video item does. The source's offer of control comes with it.
    ASSERT_EQ(onPgm("Cam 1"), ok);
    int viewer = 0;
    connection->startPlay();
    connection->acquireVideoGetting(MediaConnection::BandWidthHigh, &viewer);
    EXPECT_TRUE(testsupport::waitFor([&] { return zoom(0.5) == ok; }));
    EXPECT_TRUE(camera.waitForLine(R"(ptz Cam 1 <ptz_zoom zoom_value="0.5"/>)"));
    connection->releaseVideoGetting(MediaConnection::BandWidthHigh, &viewer);

    EXPECT_EQ(post(http, "/api/v2/program/remove.json", { { "pro_id", pro } }, token), ok);
    connection.reset();
    manager->stopDiscover();
}
