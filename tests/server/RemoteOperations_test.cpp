// A browser's whole session over HTTPS while a second client listens on the
// secure WebSocket: the controller, its worker, the HTTPS thread and the
// WebSocket server run as in the application, in a temporary home. Each
// operation's reply, the pushes it causes (in their order) and the files it
// leaves behind are checked, and a second controller must find the same
// state in those files.
#include "../http/HttpTestClient.h"

#include "ControllerFixture.h"
#include "ServerTestKit.h"
#include "TestSupport.h"
#include "api/UsersManager.h"
#include "app/BaseConfig.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "model/Preset.h"
#include "model/ProjectObject.h"
#include "model/PtzControl.h"
#include "model/WindowObject.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QThread>
#include <QWebSocket>

#include <atomic>
#include <memory>

namespace {

const QJsonObject kOk { { "result", "ok" } };

QJsonObject fail(const QString& msg)
{
    return QJsonObject { { "result", "error" }, { "msg", msg } };
}

// Every message the WebSocket server pushes, in arrival order; the periodic
// source list is left out.
class Listener {
public:
    bool open(quint16 port) { return client.open(port); }
    // Waits until the pushes since the last call hold these types in this
    // order (others may come between), then starts over after them.
    bool pushed(const QStringList& types)
    {
        int matched = 0, at = seen;
        const bool found = testsupport::waitFor([&] {
            collect();
            for (; at < messages.size() && matched < types.size(); ++at) {
                if (messages.at(at).value("socket_type").toString() == types.at(matched))
                    ++matched;
            }
            return matched == types.size();
        });
        if (found)
            seen = at;
        return found;
    }
    // Sends a request and returns its reply: the first message after it that
    // is not a push of another kind (a late push may come first).
    QJsonObject ask(const QJsonObject& request)
    {
        collect();
        const QString kind = request.value("socket_type").toString();
        int at = messages.size();
        client.send(QString::fromUtf8(QJsonDocument(request).toJson()));
        const bool answered = testsupport::waitFor([&] {
            collect();
            for (; at < messages.size(); ++at) {
                const QString type = messages.at(at).value("socket_type").toString();
                if (type.isEmpty() || type == kind)
                    return true;
            }
            return false;
        });
        return answered ? messages.takeAt(at) : QJsonObject();
    }

private:
    // Takes over what the client received since the last look.
    void collect()
    {
        for (; scanned < client.messages.size(); ++scanned) {
            const QJsonObject message = QJsonDocument::fromJson(client.messages.at(scanned).toUtf8()).object();
            if (message.value("socket_type").toString() != "source")
                messages.append(message);
        }
    }

    servertest::WssClient client;
    int scanned = 0;
    QList<QJsonObject> messages;
    int seen = 0;
};

// A camera that only zooms and counts the commands it got.
class CountingCamera : public PtzControl {
public:
    explicit CountingCamera(std::atomic<int>& zooms)
        : zooms(zooms)
    {
    }
    bool setPtzZoom(float) override { return ++zooms > 0; }
    bool setPtzZoomSpeed(float) override { return false; }
    bool setPtzPanTilt(float, float) override { return false; }
    bool setPtzPanTiltSpeed(float, float) override { return false; }
    bool setPtzStorePreset(int) override { return false; }
    bool setPtzRecallPreset(int, float) override { return false; }
    bool setPtzAutoFocus() override { return false; }
    bool setPtzFocus(float) override { return false; }
    bool setPtzFocusSpeed(float) override { return false; }
    bool setPtzWhiteBalanceAuto() override { return false; }
    bool setPtzWhiteBalanceIndoor() override { return false; }
    bool setPtzWhiteBalanceOutdoor() override { return false; }
    bool setPtzWhiteBalanceOneshot() override { return false; }
    bool setPtzWhiteBalanceManual(float, float) override { return false; }
    bool setPtzExposureAuto() override { return false; }
    bool setPtzExposureManual(float) override { return false; }
    bool isSupportPtz() override { return true; }

private:
    std::atomic<int>& zooms;
};

class RemoteOperations : public servertest::ControllerFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(http.connectTo(quint16(g_httpPort)));
        ASSERT_TRUE(listener.open(quint16(g_websocketPort)));
        const QJsonObject login = post("/users/login.json", { { "username", "admin" }, { "password", "vexmo" } });
        ASSERT_EQ(login.value("result").toString(), "ok") << ::testing::PrintToString(login);
        header = "app: "
            + QJsonDocument(QJsonObject { { "username", "admin" },
                                { "token", login.value("data").toObject().value("token").toString() } })
                  .toJson(QJsonDocument::Compact)
            + "\r\n";
    }

    QJsonObject call(const QByteArray& method, const QByteArray& target, const QByteArray& body)
    {
        const int before = http.completeCount();
        http.send(method + " /api/v2" + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + header
            + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        if (!http.waitReplies(before + 1))
            return QJsonObject();
        return QJsonDocument::fromJson(http.replies().at(before).body).object();
    }
    QJsonObject post(const QByteArray& path, const QJsonObject& body)
    {
        return call("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact));
    }
    QJsonObject get(const QByteArray& target) { return call("GET", target, QByteArray()); }

    // Adds a program and waits until the controller has made it; its id.
    QString addProgram(const QString& name, double width = 1920, double height = 1080, double frameRate = 30)
    {
        const QStringList before = BaseConfig::getInstance()->programIds();
        EXPECT_EQ(post("/program/add.json", program(name, width, height, frameRate)), kOk);
        return newProgram(before);
    }
    static QJsonObject program(const QString& name, double width, double height, double frameRate)
    {
        return { { "name", name },
            { "resolution",
                QJsonObject { { "width", width }, { "height", height }, { "index", 2 }, { "aspect", 1.7778 } } },
            { "frameRate", frameRate } };
    }
    static QJsonObject window(const QString& pro, const QString& win, const QString& name, int width = 1280,
        int height = 720, double frameRate = 25)
    {
        return { { "pro_id", pro }, { "win_id", win }, { "name", name },
            { "resolution",
                QJsonObject { { "width", width }, { "height", height }, { "index", 1 }, { "aspect", 1.7778 } } },
            { "frameRate", frameRate } };
    }
    static QJsonObject source(const QString& pro, const QString& bus, const QString& stream)
    {
        return { { "pro_id", pro },
            { "to",
                QJsonObject { { "pro_id", pro }, { "win_id", bus }, { "type", bus }, { "pos_id", 1 },
                    { "stream_id", stream } } } };
    }
    static QString programDir(const QString& pro) { return g_savePath + "/programs/program_" + pro; }

    httptest::Client http;
    Listener listener;
    QByteArray header;
};

TEST_F(RemoteOperations, AScriptedSessionGetsItsRepliesPushesAndFiles)
{
    BaseConfig* controller = BaseConfig::getInstance();

    // Programs: add, refuse a second of the same name, switch.
    const QString pro = addProgram("Studio");
    ASSERT_FALSE(pro.isEmpty());
    EXPECT_TRUE(listener.pushed({ "program", "program" }));
    EXPECT_EQ(post("/program/add.json", program("Studio", 1920, 1080, 30)), fail("program.nameError"));
    EXPECT_EQ(post("/program/switch.json", { { "pro_id", pro } }), kOk);
    EXPECT_TRUE(listener.pushed({ "program" }));

    // Windows: add one, refuse its name twice.
    EXPECT_EQ(post("/window/add.json", window(pro, "", "Wall")), kOk);
    EXPECT_TRUE(listener.pushed({ "window", "window" }));
    EXPECT_EQ(post("/window/add.json", window(pro, "", "Wall")), fail("window.nameError"));
    const QString wall = QString::number(controller->getProgram(pro)->getLastWinId());
    ASSERT_TRUE(controller->getProgram(pro)->getWindow(wall));

    // A preset from a template, shown on the new window; in use, it stays.
    EXPECT_EQ(post("/layout/add.json", { { "pro_id", pro }, { "name", "Quad" }, { "template_id", "6" } }), kOk);
    const QString quad = QString::number(controller->getProgram(pro)->getLastPresetId());
    EXPECT_TRUE(listener.pushed({ "preset" }));
    EXPECT_EQ(post("/layout/add.json", { { "pro_id", pro }, { "name", "Quad" }, { "template_id", "6" } }),
        fail("preset.nameError"));
    EXPECT_EQ(post("/window/set_layout.json", { { "pro_id", pro }, { "win_id", wall }, { "layout_id", quad } }), kOk);
    EXPECT_TRUE(listener.pushed({ "window" }));
    EXPECT_EQ(post("/layout/remove.json", { { "pro_id", pro }, { "layout_id", quad } }),
        fail(QStringLiteral("这个预设正在使用中")));
    EXPECT_EQ(
        post("/window/set_output_type.json", { { "pro_id", pro }, { "win_id", wall }, { "select", "ndi" } }), kOk);
    EXPECT_TRUE(listener.pushed({ "live", "window" }));

    // Sources on the buses, then takes: equal sources are refused, yet the
    // clients still get the buses as they are.
    EXPECT_EQ(post("/window/set_source.json", source(pro, "pvw", "CamA")), kOk);
    EXPECT_EQ(post("/window/set_source.json", source(pro, "pgm", "CamA")), kOk);
    EXPECT_TRUE(listener.pushed({ "tally", "window", "tally", "window" }));
    EXPECT_EQ(post("/take/set.json", { { "pro_id", pro } }), fail("Take.sourceIsSame"));
    EXPECT_TRUE(listener.pushed({ "window" }));
    EXPECT_EQ(post("/window/set_source.json", source(pro, "pvw", "CamB")), kOk);
    EXPECT_EQ(post("/take/set.json", { { "pro_id", pro } }), kOk);
    EXPECT_TRUE(listener.pushed({ "tally", "window", "tally", "window" }));
    EXPECT_EQ(
        get("/pgm/stream_get.json?pro_id=" + pro.toUtf8() + "&win_id=pgm"), (QJsonObject { { "stream_id", "CamB" } }));

    // Tally over HTTPS and over the WebSocket agree.
    const QJsonObject tally = get("/tally/" + pro.toUtf8() + "/get.json");
    EXPECT_EQ(tally.value("result").toString(), "ok");
    EXPECT_EQ(tally.value("socket_type").toString(), "tally");
    EXPECT_EQ(listener.ask({ { "socket_type", "tally" }, { "pro_id", pro } }), tally);

    // The transition of that take never ends here (nothing renders), so a
    // timed take waits for it; the clients still get the buses.
    EXPECT_EQ(post("/take/set_params.json", { { "pro_id", pro }, { "time", 500 }, { "select", 2 } }), kOk);
    EXPECT_EQ(post("/take/set.json", { { "pro_id", pro } }), fail("Take.isUsing"));
    EXPECT_TRUE(listener.pushed({ "window" }));
    EXPECT_EQ(
        listener.ask({ { "socket_type", "take_set" }, { "pro_id", pro } }), (QJsonObject { { "result", "error" } }));

    // PTZ reaches the camera behind the program bus and pushes nothing.
    std::atomic<int> zooms { 0 };
    PtzControl::setLookup([&zooms](const QString&) { return std::make_shared<CountingCamera>(zooms); });
    EXPECT_EQ(post("/ptz/set.json",
                  { { "pro_id", pro }, { "win_id", "pgm" }, { "pos_id", 1 }, { "type", "ptz_zoom" },
                      { "data", QJsonObject { { "zoom_value", 0.5 } } } }),
        kOk);
    EXPECT_EQ(listener.ask({ { "socket_type", "ptz_set" }, { "pro_id", pro }, { "win_id", "pgm" }, { "pos_id", 1 },
                  { "type", "ptz_zoom" }, { "data", QJsonObject { { "zoom_value", 0.2 } } } }),
        kOk);
    PtzControl::setLookup(nullptr);
    EXPECT_EQ(zooms, 2);

    // Renames; the bus windows cannot be closed; the added window can.
    EXPECT_EQ(post("/program/rename.json", { { "pro_id", pro }, { "name", "Studio A" } }), kOk);
    EXPECT_EQ(post("/layout/rename.json", { { "pro_id", pro }, { "layout_id", quad }, { "name", "Four" } }), kOk);
    EXPECT_TRUE(listener.pushed({ "program", "preset" }));
    for (const char* bus : { "pvw", "pgm" })
        EXPECT_EQ(post("/window/remove.json", { { "pro_id", pro }, { "win_id", bus }, { "session_id", "" } }), fail(""))
            << bus;
    EXPECT_EQ(post("/window/add.json", window(pro, "", "Spare")), kOk);
    ASSERT_TRUE(testsupport::waitFor([&] { return controller->getProgram(pro)->getLastWinId() > wall.toInt(); }));
    const QString spare = QString::number(controller->getProgram(pro)->getLastWinId());
    ASSERT_TRUE(
        testsupport::waitFor([&] { return QFile::exists(programDir(pro) + "/windows/window_" + spare + ".json"); }));
    EXPECT_EQ(post("/window/remove.json", { { "pro_id", pro }, { "win_id", spare }, { "session_id", "" } }), kOk);

    // A second program comes and goes with its folder.
    const QString gone = addProgram("Spare show");
    ASSERT_FALSE(gone.isEmpty());
    ASSERT_TRUE(testsupport::waitFor([&] { return QDir(programDir(gone)).exists(); }));
    EXPECT_EQ(post("/program/remove.json", { { "pro_id", gone } }), kOk);
    ASSERT_TRUE(testsupport::waitFor([&] { return !QDir(programDir(gone)).exists(); }));

    // The files say what the operations did.
    ASSERT_TRUE(testsupport::waitFor([&] {
        const QJsonArray list = JsonFile::load(g_savePath + "/programs.json").value("data").toArray();
        return list.size() == 1 && list.at(0).toObject().value("name").toString() == "Studio A"
            && !QFile::exists(programDir(pro) + "/windows/window_" + spare + ".json");
    }));
    for (const QString& file : QStringList { "/windows/window_pvw.json", "/windows/window_pgm.json",
             QString("/windows/window_%1.json").arg(wall), QString("/presets/preset_%1.json").arg(quad) })
        EXPECT_TRUE(QFile::exists(programDir(pro) + file)) << file.toStdString();

    // A new controller reading the same folder finds the same state.
    BaseConfig restarted;
    ASSERT_TRUE(restarted.load());
    const QSharedPointer<ProjectObject> again = restarted.getProgram(pro);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->getName(), "Studio A");
    EXPECT_FALSE(restarted.getProgram(gone));
    ASSERT_TRUE(again->getWindow(wall));
    EXPECT_FALSE(again->getWindow(spare));
    EXPECT_EQ(again->getWinLayoutId(wall), quad);
    ASSERT_TRUE(again->getPreset(quad));
    EXPECT_EQ(again->getLayoutList(), controller->getProgram(pro)->getLayoutList());
    EXPECT_EQ(again->getTakeParams(), controller->getProgram(pro)->getTakeParams());
    EXPECT_EQ(again->getWindow("pgm")->getSource(1), "CamB");
    EXPECT_EQ(again->getWindow("pvw")->getSource(1), "CamA");
    restarted.destroy();
}

TEST_F(RemoteOperations, RequestsNamingNothingValidChangeNothing)
{
    const QString pro = addProgram("Checks");
    ASSERT_FALSE(pro.isEmpty());
    const QSharedPointer<ProjectObject> checked = BaseConfig::getInstance()->getProgram(pro);
    ASSERT_TRUE(checked);

    // Program ids must name a program; window and preset ids that could
    // not be ours never reach a file name.
    for (const char* id : { "999", "../program_1", "" })
        EXPECT_EQ(post("/program/rename.json", { { "pro_id", id }, { "name", "X" } }),
            (QJsonObject { { "result", "error" } }))
            << id;
    for (const char* id : { "../../x", "1/2", "a" }) {
        EXPECT_EQ(post("/window/set_param.json", window(pro, id, "Odd")), fail("")) << id;
        EXPECT_EQ(post("/layout/rename.json", { { "pro_id", pro }, { "layout_id", id }, { "name", "Odd" } }), fail(""))
            << id;
    }

    // Sizes and rates that would reach divisions and buffers are refused;
    // portrait and small sizes inside the limits pass.
    struct Canvas {
        double width, height, frameRate;
        bool accepted;
    };
    const Canvas cases[] = { { 1920, 1080, 0, false }, { 1920, 1080, -25, false }, { 1920, 1080, 241, false },
        { 15, 1080, 30, false }, { 1920, 8193, 30, false }, { 0, 0, 30, false }, { 1080, 1920, 30, true },
        { 16, 16, 240, true }, { 8192, 8192, 0.5, true } };
    for (const Canvas& c : cases) {
        const QString what = QString("%1x%2@%3").arg(c.width).arg(c.height).arg(c.frameRate);
        QJsonObject params = program("Checks", c.width, c.height, c.frameRate);
        params.insert("pro_id", pro);
        EXPECT_EQ(post("/program/set_param.json", params).value("result").toString(), c.accepted ? "ok" : "error")
            << what.toStdString();
        EXPECT_EQ(post("/program/add.json", program("New " + what, c.width, c.height, c.frameRate)).value("result"),
            c.accepted ? "ok" : "error")
            << what.toStdString();
        EXPECT_EQ(post("/window/add.json", window(pro, "", "W " + what, int(c.width), int(c.height), c.frameRate))
                      .value("result"),
            c.accepted ? "ok" : "error")
            << what.toStdString();
    }
    double width = 0, height = 0, frameRate = 0;
    checked->getParams(width, height, frameRate);
    EXPECT_EQ(width, 8192);
    EXPECT_EQ(frameRate, 0.5);

    // A status of "true" from a GET's query starts the program.
    EXPECT_EQ(get("/program/set_status.json?pro_id=" + pro.toUtf8() + "&status=true"), kOk);
    EXPECT_TRUE(checked->getStatus());
    EXPECT_EQ(post("/program/set_status.json", { { "pro_id", pro }, { "status", false } }), kOk);
    EXPECT_FALSE(checked->getStatus());

    // A switch to a window the program lacks is an error and moves nothing.
    const QString current = checked->getCurrentWinId();
    EXPECT_EQ(post("/window/switch.json", { { "pro_id", pro }, { "win_id", "77" }, { "session_id", "s" } }), fail(""));
    EXPECT_EQ(checked->getCurrentWinId(), current);
}

} // namespace
