// The network-output parameter routes over HTTPS, with the controller, its
// worker, the WebSocket server and the stand-in backend as the application
// runs them: defaults without a file, a change that is saved, pushed and
// survives a restart, and requests that must fail without harming anything.
// Ends with the controller's teardown, which must end the outputs.
#include "../http/HttpTestClient.h"
#include "../ndi/NdiTestKit.h"

#include "ServerTestKit.h"
#include "TestSupport.h"
#include "app/BaseConfig.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "media/VideoFrame.h"
#include "model/ProjectObject.h"
#include "output/MediaOutputManager.h"
#include "output/NdiOutputStream.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

const QJsonObject kOk { { "result", "ok" } };

class NdiParamRoutes : public ::testing::Test {
protected:
    // One controller for the suite, as in the application: its WebSocket
    // server starts once per process.
    static void SetUpTestSuite()
    {
        s_home = new testsupport::TempHome;
        s_registry = new ndikit::ScopedRegistry;
        g_websocketPort = testsupport::freePort();
        BaseConfig* controller = BaseConfig::getInstance();
        controller->initConfigs();
        controller->openWindows();
        s_routes = new servertest::HttpsRoutesThread;
    }
    static void TearDownTestSuite()
    {
        delete s_routes;
        BaseConfig::getInstance()->destroy();
        BaseConfig::getInstance()->stopWorker();
        delete s_registry;
        delete s_home;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_routes->listening());
        for (httptest::Client* c : { &http, &second })
            ASSERT_TRUE(c->connectTo(quint16(g_httpPort)));
        ASSERT_TRUE(listener.open(quint16(g_websocketPort)));
        QString token;
        ASSERT_TRUE(servertest::loggedIn(http, &token));
        header = servertest::appHeader("admin", token);
    }

    QJsonObject post(const QByteArray& path, const QJsonObject& body, httptest::Client* c = nullptr)
    {
        return servertest::post(c ? *c : http, "/api/v2" + path, body, header);
    }
    // Whether a push of this type reaches the listening client.
    bool pushed(const QString& type)
    {
        return testsupport::waitFor([&] {
            while (read < listener.messages.size()) {
                const QJsonObject m = QJsonDocument::fromJson(listener.messages.at(read++).toUtf8()).object();
                if (m.value("socket_type").toString() == type)
                    return true;
            }
            return false;
        });
    }
    QString addProgram(const QString& name)
    {
        const QStringList before = BaseConfig::getInstance()->programIds();
        EXPECT_EQ(
            post("/program/add.json",
                { { "name", name },
                    { "resolution",
                        QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.7778 } } },
                    { "frameRate", 25 } }),
            kOk);
        QString id;
        testsupport::waitFor([&] {
            for (const QString& known : BaseConfig::getInstance()->programIds())
                if (!before.contains(known))
                    id = known;
            return !id.isEmpty() && MediaOutputManager::instance().stream(id, "pvw");
        });
        return id;
    }
    static QJsonObject settings(const QString& pro, const QString& win, const QString& type, int ttl)
    {
        return { { "pro_id", pro }, { "win_id", win }, { "connection_type", type }, { "netprefix", "239.1.0.0" },
            { "netmask", "255.255.0.0" }, { "ttl", ttl }, { "group", QJsonArray { "studio" } },
            { "discovery_enable", true }, { "discovery_ip", "10.0.0.9" } };
    }

    static testsupport::TempHome* s_home;
    static ndikit::ScopedRegistry* s_registry;
    static servertest::HttpsRoutesThread* s_routes;
    httptest::Client http;
    httptest::Client second;
    servertest::WssClient listener;
    int read = 0;
    QByteArray header;
};
testsupport::TempHome* NdiParamRoutes::s_home = nullptr;
ndikit::ScopedRegistry* NdiParamRoutes::s_registry = nullptr;
servertest::HttpsRoutesThread* NdiParamRoutes::s_routes = nullptr;

} // namespace

TEST_F(NdiParamRoutes, ParametersAreReportedSavedPushedAndKeptAcrossARestart)
{
    const QString pro = addProgram("Output show");
    ASSERT_FALSE(pro.isEmpty());

    // No file yet: the defaults.
    const QJsonObject defaults = post("/window/ndi/get_param.json", { { "pro_id", pro }, { "win_id", "pvw" } });
    EXPECT_EQ(defaults,
        (QJsonObject { { "result", "ok" },
            { "data",
                QJsonObject { { "pro_id", pro }, { "win_id", "pvw" }, { "connection_type", "Default" },
                    { "netprefix", "239.255.0.0" }, { "netmask", "255.255.0.0" }, { "ttl", 127 },
                    { "group", QJsonArray() }, { "discovery_enable", false }, { "discovery_ip", "" } } } }));

    // Two clients at once, one window each: both saved, both pushed.
    const QJsonObject pvw = settings(pro, "pvw", "multicast", 16);
    const QJsonObject pgm = settings(pro, "pgm", "no_multi_tcp", 8);
    const auto send = [this](httptest::Client& c, const QJsonObject& body) {
        const QByteArray text = QJsonDocument(body).toJson(QJsonDocument::Compact);
        c.send("POST /api/v2/window/ndi/set_param.json HTTP/1.1\r\nHost: 127.0.0.1\r\n" + header
            + "Content-Length: " + QByteArray::number(text.size()) + "\r\n\r\n" + text);
    };
    const int before = http.completeCount(), beforeSecond = second.completeCount();
    // Adding a program pushes only "program": what follows comes from the change.
    read = listener.messages.size();
    send(http, pvw);
    send(second, pgm);
    ASSERT_TRUE(http.waitReplies(before + 1));
    ASSERT_TRUE(second.waitReplies(beforeSecond + 1));
    EXPECT_EQ(servertest::jsonOf(http.replies().at(before)), kOk);
    EXPECT_EQ(servertest::jsonOf(second.replies().at(beforeSecond)), kOk);
    EXPECT_TRUE(pushed("window"));
    EXPECT_EQ(JsonFile::load(NdiOutputStream::paramFile(pro, "pvw")), pvw);
    EXPECT_EQ(JsonFile::load(NdiOutputStream::paramFile(pro, "pgm")), pgm);
    EXPECT_EQ(post("/window/ndi/get_param.json", { { "pro_id", pro }, { "win_id", "pvw" } }),
        (QJsonObject { { "result", "ok" }, { "data", pvw } }));
    const QString running = MediaOutputManager::instance().stream(pro, "pvw")->configText();
    EXPECT_TRUE(running.contains(R"("ttl": 16)"));

    // Requests naming nothing, or with a runtime that cannot start: error
    // replies, nothing changed, and the server goes on.
    EXPECT_EQ(post("/window/ndi/get_param.json", { { "pro_id", pro }, { "win_id", "77" } }),
        (QJsonObject { { "result", "error" } }));
    EXPECT_EQ(post("/window/ndi/set_param.json", settings(pro, "77", "multicast", 3)),
        (QJsonObject { { "result", "error" }, { "msg", "" } }));
    EXPECT_EQ(post("/window/ndi/set_param.json", settings("999", "pvw", "multicast", 3)),
        (QJsonObject { { "result", "error" }, { "msg", "project id is invalid." } }));
    const QByteArray registryDir = qgetenv("PANOPTRA_NDI_DIR");
    ASSERT_TRUE(testsupport::writeFile(registryDir + "/plain", "x"));
    qputenv("PANOPTRA_NDI_DIR", QByteArray(registryDir + "/plain/registry"));
    const QJsonObject changed = settings(pro, "pvw", "Default", 4);
    EXPECT_EQ(post("/window/ndi/set_param.json", changed),
        (QJsonObject { { "result", "error" }, { "msg", "Cannot run NDI!" } }));
    qputenv("PANOPTRA_NDI_DIR", registryDir);
    EXPECT_EQ(JsonFile::load(NdiOutputStream::paramFile(pro, "pvw")), pvw);
    EXPECT_EQ(MediaOutputManager::instance().stream(pro, "pvw")->configText(), running);
    EXPECT_EQ(post("/window/ndi/get_param.json", { { "pro_id", pro }, { "win_id", "pvw" } }),
        (QJsonObject { { "result", "ok" }, { "data", pvw } }));

    // A restart: the outputs end with the process, a new controller reads
    // the same folder and its windows' outputs run what the files hold.
    MediaOutputManager::instance().destroy();
    {
        BaseConfig restarted;
        ASSERT_TRUE(restarted.load());
        const QSharedPointer<ProjectObject> again = restarted.getProgram(pro);
        ASSERT_TRUE(again);
        again->createAudioMixers();
        again->createWindows();
        ASSERT_TRUE(MediaOutputManager::instance().stream(pro, "pvw"));
        EXPECT_EQ(MediaOutputManager::instance().stream(pro, "pvw")->configText(), running);
        EXPECT_EQ(MediaOutputManager::instance().getNDIParams(pro, "pgm").value("data").toObject(), pgm);
        restarted.destroy();
    }
}

TEST_F(NdiParamRoutes, ValuesASenderCannotRunWithAreRefusedAndNothingIsStored)
{
    const QString pro = addProgram("Checked output");
    ASSERT_FALSE(pro.isEmpty());
    const QString file = NdiOutputStream::paramFile(pro, "pgm");
    const QString running = MediaOutputManager::instance().stream(pro, "pgm")->configText();
    const QJsonObject defaults = post("/window/ndi/get_param.json", { { "pro_id", pro }, { "win_id", "pgm" } });

    const auto with = [&](const char* key, const QJsonValue& value) {
        QJsonObject body = settings(pro, "pgm", "multicast", 16);
        body.insert(key, value);
        return body;
    };
    struct Case {
        QJsonObject body;
        QString key;
    } cases[] = {
        { with("ttl", "abc"), "ttl" },
        { with("ttl", "16"), "ttl" },
        { with("ttl", 0), "ttl" },
        { with("ttl", 256), "ttl" },
        { with("ttl", -1), "ttl" },
        { with("ttl", 16.5), "ttl" },
        { with("ttl", 1e300), "ttl" },
        { with("ttl", QJsonArray { 16 }), "ttl" },
        { with("discovery_enable", "yes"), "discovery_enable" },
        { with("discovery_enable", 1), "discovery_enable" },
        { with("group", "studio"), "group" },
        { with("group", QJsonArray { "studio", 3 }), "group" },
        { with("group", QJsonArray { QJsonObject { { "a", "b" } } }), "group" },
        { with("group", QJsonArray { true }), "group" },
    };
    for (const Case& c : cases) {
        const QByteArray text = QJsonDocument(c.body).toJson(QJsonDocument::Compact);
        EXPECT_EQ(post("/window/ndi/set_param.json", c.body),
            (QJsonObject { { "result", "error" }, { "msg", "Invalid NDI parameter: " + c.key } }))
            << text.constData();
        EXPECT_FALSE(QFile::exists(file)) << text.constData();
        EXPECT_EQ(MediaOutputManager::instance().stream(pro, "pgm")->configText(), running) << text.constData();
        EXPECT_EQ(post("/window/ndi/get_param.json", { { "pro_id", pro }, { "win_id", "pgm" } }), defaults)
            << text.constData();
    }

    // The bounds themselves, and null group entries (skipped), go through.
    for (const int ttl : { 1, 255 }) {
        QJsonObject valid = with("ttl", ttl);
        valid.insert("group", QJsonArray { "studio", QJsonValue(), "news" });
        EXPECT_EQ(post("/window/ndi/set_param.json", valid), kOk);
        EXPECT_EQ(post("/window/ndi/get_param.json", { { "pro_id", pro }, { "win_id", "pgm" } }),
            (QJsonObject { { "result", "ok" }, { "data", valid } }));
        EXPECT_EQ(JsonFile::load(file), valid);
        EXPECT_TRUE(
            MediaOutputManager::instance().stream(pro, "pgm")->configText().contains(QString(R"("ttl": %1)").arg(ttl)));
    }
}

// Last: it tears the controller down.
TEST_F(NdiParamRoutes, TheControllerTeardownEndsTheWindowOutputs)
{
    const QString pro = addProgram("Teardown show");
    ASSERT_FALSE(pro.isEmpty());
    MediaOutputManager& manager = MediaOutputManager::instance();
    manager.setNDIEnable(pro, "pgm", true);
    ndikit::Picture picture(64, 36);
    auto frame = std::make_shared<VideoFrame>(picture.bytes.data(), 64u, 36u, uint32_t(picture.bytes.size()), 128u);
    manager.sendNDIVideo(pro, "pgm", frame, "Teardown (PGM)", NDIlib_FourCC_video_type_UYVY);
    ndikit::Receiver receiver = ndikit::makeReceiver("Teardown (PGM)");
    ASSERT_TRUE(ndikit::connected(receiver));

    BaseConfig::getInstance()->destroy();
    EXPECT_FALSE(manager.stream(pro, "pgm"));
    EXPECT_TRUE(testsupport::waitFor([&] { return NDIlib_recv_get_no_connections(receiver.get()) == 0; }));
}
