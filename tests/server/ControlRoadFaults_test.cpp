// Faults of the control road seen from outside: the application's routes and
// WebSocket server run as in the application (HTTPS on its own thread, the
// worker carrying the WebSocket server, the controller on this thread), and
// a second controller reads the files back as a restart would.
#include "../http/HttpTestClient.h"

#include "ControllerFixture.h"
#include "ServerTestKit.h"
#include "TestSupport.h"
#include "api/UsersManager.h"
#include "app/BaseConfig.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "model/ProjectObject.h"
#include "model/WindowObject.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QThread>

#include <memory>
#include <vector>

namespace {

const QJsonObject kOk { { "result", "ok" } };

QJsonObject fail(const QString& msg)
{
    return QJsonObject { { "result", "error" }, { "msg", msg } };
}

QString programDir(const QString& pro)
{
    return g_savePath + "/programs/program_" + pro;
}

QJsonObject windowBody(const QString& pro, const QString& name)
{
    return { { "pro_id", pro }, { "win_id", "" }, { "name", name },
        { "resolution", QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.7778 } } },
        { "frameRate", 25 } };
}

class ControlRoad : public servertest::ControllerFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(http.connectTo(quint16(g_httpPort)));
        header = loginHeader(http, "admin", "vexmo");
        ASSERT_FALSE(header.isEmpty());
    }

    static QByteArray loginHeader(httptest::Client& c, const QString& user, const QString& password)
    {
        const QJsonObject reply
            = servertest::post(c, "/api/v2/users/login.json", { { "username", user }, { "password", password } });
        const QString token = reply.value("data").toObject().value("token").toString();
        return token.isEmpty() ? QByteArray() : servertest::appHeader(user, token);
    }
    QJsonObject post(const QByteArray& path, const QJsonObject& body)
    {
        return servertest::post(http, "/api/v2" + path, body, header);
    }

    // Requests of one connection: API path and body.
    using Requests = std::vector<std::pair<QByteArray, QJsonObject>>;
    // Each batch goes out on a connection of its own, all of them at once
    // (pipelined), from another thread; this thread waits without running
    // any queued call until every reply is in: the replies, batch by batch.
    std::vector<QJsonObject> sendAtOnce(const std::vector<Requests>& batches)
    {
        std::vector<QJsonObject> replies;
        std::unique_ptr<QThread> clients(QThread::create([&] {
            std::vector<std::unique_ptr<httptest::Client>> connections;
            for (const Requests& batch : batches) {
                connections.push_back(std::make_unique<httptest::Client>());
                if (!connections.back()->connectTo(quint16(g_httpPort)))
                    return;
                QByteArray bytes;
                for (const auto& request : batch) {
                    const QByteArray json = QJsonDocument(request.second).toJson(QJsonDocument::Compact);
                    bytes += "POST /api/v2" + request.first + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + header
                        + "Content-Length: " + QByteArray::number(json.size()) + "\r\n\r\n" + json;
                }
                connections.back()->send(bytes);
            }
            for (size_t c = 0; c < batches.size(); ++c) {
                connections[c]->waitReplies(int(batches[c].size()), 20000);
                for (const httptest::Reply& reply : connections[c]->replies())
                    replies.push_back(servertest::jsonOf(reply));
            }
        }));
        clients->start();
        clients->wait();
        return replies;
    }

    // Adds a program and waits until the controller has made it; its id.
    QString addProgram(const QString& name)
    {
        const QStringList before = BaseConfig::getInstance()->programIds();
        EXPECT_EQ(
            post("/program/add.json",
                { { "name", name }, { "frameRate", 25 },
                    { "resolution",
                        QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.7778 } } } }),
            kOk);
        return newProgram(before);
    }

    httptest::Client http;
    QByteArray header;
};

// The layout edit of the browser reaches the window: the grid push and the
// window file (read by a restarted controller) carry the new positions.
TEST_F(ControlRoad, LayoutModifyChangesTheWindowItsPushAndItsFile)
{
    const QString pro = addProgram("Modify");
    ASSERT_FALSE(pro.isEmpty());
    servertest::WssClient listener;
    ASSERT_TRUE(listener.open(quint16(g_websocketPort)));

    const QJsonObject layout { { "pro_id", pro }, { "win_id", "1" }, { "layout_id", "" }, { "layout_count", 3 },
        { "position", servertest::sidePositions(3) } };
    ASSERT_EQ(post("/layout/modify.json", layout), kOk);
    EXPECT_EQ(post("/layout/modify.json",
                  QJsonObject { { "pro_id", pro }, { "win_id", "77" }, { "layout_id", "" },
                      { "position", servertest::sidePositions(1) } }),
        fail(""));

    // Switching to the window pushes its grid.
    ASSERT_EQ(post("/window/switch.json", { { "pro_id", pro }, { "win_id", "1" }, { "session_id", "s" } }), kOk);
    QJsonObject grid;
    ASSERT_TRUE(testsupport::waitFor([&] {
        const QJsonObject message = listener.next(100);
        if (message.value("socket_type").toString() == "grid")
            grid = message;
        return !grid.isEmpty();
    }));
    const QJsonObject data = grid.value("data").toObject();
    EXPECT_EQ(data.value("layout_count").toInt(), 3);
    const QJsonArray placed = data.value("layout").toArray();
    ASSERT_EQ(placed.size(), 3);
    EXPECT_EQ(placed.at(1).toObject().value("x").toInt(), 33);
    EXPECT_EQ(placed.at(2).toObject().value("width").toInt(), 33);

    // The window file holds it: a restarted controller shows the same grid.
    ASSERT_TRUE(testsupport::waitFor([&] {
        const QJsonObject file = JsonFile::load(programDir(pro) + "/windows/window_1.json");
        const QJsonObject preset = file.value("data").toObject().value("preset").toObject();
        return preset.value("videos").toObject().value("position").toArray().size() == 3;
    }));
    BaseConfig restarted;
    ASSERT_TRUE(restarted.load());
    ASSERT_TRUE(restarted.getProgram(pro));
    EXPECT_EQ(restarted.getProgram(pro)->getLayoutParams("1").value("data").toObject().value("layout"), placed);
    restarted.destroy();
}

// A window's changed layout saved back into the preset it shows: the
// preset file, read by a restarted controller, holds the new positions.
TEST_F(ControlRoad, LayoutSaveWritesTheWindowsLayoutIntoItsPreset)
{
    const QString pro = addProgram("Save");
    ASSERT_FALSE(pro.isEmpty());
    ASSERT_EQ(post("/layout/add.json", { { "pro_id", pro }, { "name", "Full" }, { "template_id", "6" } }), kOk);
    const QString preset = QString::number(BaseConfig::getInstance()->getProgram(pro)->getLastPresetId());
    ASSERT_EQ(post("/window/set_layout.json", { { "pro_id", pro }, { "win_id", "1" }, { "layout_id", preset } }), kOk);
    ASSERT_EQ(post("/layout/modify.json",
                  { { "pro_id", pro }, { "win_id", "1" }, { "layout_id", preset }, { "name", "Full" },
                      { "position", servertest::sidePositions(2) } }),
        kOk);
    ASSERT_EQ(post("/layout/save.json", { { "pro_id", pro }, { "win_id", "1" } }), kOk);

    const QString file = programDir(pro) + "/presets/preset_" + preset + ".json";
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return JsonFile::load(file).value("videos").toObject().value("position").toArray().size() == 2; }));
    BaseConfig restarted;
    ASSERT_TRUE(restarted.load());
    ASSERT_TRUE(restarted.getProgram(pro));
    const QJsonArray presets = restarted.getProgram(pro)->getLayoutList().value("data").toArray();
    ASSERT_EQ(presets.size(), 1);
    EXPECT_EQ(presets.at(0).toObject().value("layout_count").toInt(), 2);
    restarted.destroy();
}

// Presets, resaved layouts and windows added from several connections at
// once are each saved under the id their own request made: after a restart
// every acknowledged one is there. The replies all arrive before this
// thread runs any of the queued saves, the worst case for a save that
// looks up "the newest" item when it runs.
TEST_F(ControlRoad, EditsFromManyConnectionsAtOnceAreAllStoredUnderTheirOwnIds)
{
    const QString pro = addProgram("Crowd");
    ASSERT_FALSE(pro.isEmpty());
    constexpr int kClients = 4;
    constexpr int kAddsEach = 5;

    // What each reply acknowledges: "preset:<name>", "window:<name>".
    std::vector<QString> sent;
    std::vector<Requests> batches(kClients);
    for (int c = 0; c < kClients; ++c) {
        for (int i = 0; i < kAddsEach; ++i) {
            const QString name = QString("c%1-%2").arg(c).arg(i);
            if (i == 3)
                batches[size_t(c)].push_back(
                    { "/layout/resave.json", { { "pro_id", pro }, { "win_id", "1" }, { "name", "P " + name } } });
            else if (i == 4)
                batches[size_t(c)].push_back({ "/window/add.json", windowBody(pro, "W " + name) });
            else
                batches[size_t(c)].push_back(
                    { "/layout/add.json", { { "pro_id", pro }, { "name", "P " + name }, { "template_id", "6" } } });
            sent.push_back((i == 4 ? "window:W " : "preset:P ") + name);
        }
    }
    const std::vector<QJsonObject> replies = sendAtOnce(batches);
    ASSERT_EQ(replies.size(), size_t(kClients * kAddsEach));

    QSet<QString> presets, windows;
    for (size_t i = 0; i < replies.size(); ++i) {
        ASSERT_EQ(replies[i], kOk) << sent[i].toStdString();
        (sent[i].startsWith("preset:") ? presets : windows) << sent[i].section(':', 1);
    }

    // The names in the files of one folder; a file holds its name under outer/inner.
    const auto storedNames = [&](const char* folder, const char* outer, const char* inner) {
        QSet<QString> names;
        const QDir dir(programDir(pro) + folder);
        for (const QString& file : dir.entryList({ "*.json" }, QDir::Files))
            names << JsonFile::load(dir.filePath(file)).value(outer).toObject().value(inner).toString();
        return names;
    };
    EXPECT_TRUE(testsupport::waitFor([&] {
        return storedNames("/windows", "data", "name").contains(windows)
            && storedNames("/presets", "videos", "layout_name") == presets;
    })) << "preset files: "
        << QDir(programDir(pro) + "/presets").entryList(QDir::Files).join(' ').toStdString();

    BaseConfig restarted;
    ASSERT_TRUE(restarted.load());
    const QSharedPointer<ProjectObject> again = restarted.getProgram(pro);
    ASSERT_TRUE(again);
    QSet<QString> listed;
    for (const QJsonValue& layout : again->getLayoutList().value("data").toArray())
        listed << layout.toObject().value("name").toString();
    EXPECT_EQ(listed, presets);
    QSet<QString> listedWindows;
    for (const QJsonValue& window : again->getWindowList().value("data").toArray())
        listedWindows << window.toObject().value("name").toString();
    EXPECT_EQ(listedWindows, windows + QSet<QString> { "Main" });
    restarted.destroy();
}

// While a program, and then a window, is being built on the controller's
// thread, requests on the HTTPS thread are answered (the build holds no lock
// they need); the new program or window is listed once it is finished.
TEST_F(ControlRoad, RoutesAnswerWhileAProgramOrAWindowIsBuilt)
{
    const auto listed = [](const QJsonObject& list, const char* key, const QString& value) {
        for (const QJsonValue& entry : list.value("data").toArray())
            if (entry.toObject().value(key).toString() == value)
                return true;
        return false;
    };
    BaseConfig* controller = BaseConfig::getInstance();
    // Sent from the build itself, on the controller's thread, which waits
    // for the replies without running anything queued to it.
    std::vector<QJsonObject> whileProgram;
    QString built;
    QMetaObject::Connection hook = QObject::connect(
        controller, &BaseConfig::programBuilt, controller,
        [&](const QString& pro_id) {
            built = pro_id;
            whileProgram = sendAtOnce({ { { "/program/list.json", {} } } });
        },
        Qt::DirectConnection);
    // The adds go out from another thread too: waiting here for their
    // replies, this thread would run the build first.
    const QStringList before = controller->programIds();
    const QJsonObject program { { "name", "Built aside" }, { "frameRate", 25 },
        { "resolution", QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.7778 } } } };
    ASSERT_EQ(sendAtOnce({ { { "/program/add.json", program } } }), std::vector<QJsonObject> { kOk });
    const QString pro = newProgram(before);
    QObject::disconnect(hook);
    ASSERT_FALSE(pro.isEmpty());
    EXPECT_EQ(built, pro);
    ASSERT_EQ(whileProgram.size(), 1u) << "no answer while the program was built";
    EXPECT_EQ(whileProgram[0].value("result").toString(), "ok");
    EXPECT_FALSE(listed(whileProgram[0], "pro_id", pro)) << "listed before it was finished";
    EXPECT_TRUE(listed(post("/program/list.json", {}), "pro_id", pro));

    const QSharedPointer<ProjectObject> made = controller->getProgram(pro);
    ASSERT_TRUE(made);
    std::vector<QJsonObject> whileWindow;
    QString builtWindow;
    hook = QObject::connect(
        made.data(), &ProjectObject::windowBuilt, made.data(),
        [&](const QString& win_id) {
            builtWindow = win_id;
            whileWindow = sendAtOnce({ { { "/window/list.json", { { "pro_id", pro } } } },
                { { "/window/ndi/get_param.json", { { "pro_id", pro }, { "win_id", "pgm" } } } } });
        },
        Qt::DirectConnection);
    ASSERT_EQ(sendAtOnce({ { { "/window/add.json", windowBody(pro, "Aside") } } }), std::vector<QJsonObject> { kOk });
    EXPECT_TRUE(testsupport::waitFor([&] { return listed(made->getWindowList(), "name", "Aside"); }));
    QObject::disconnect(hook);
    ASSERT_FALSE(builtWindow.isEmpty());
    ASSERT_EQ(whileWindow.size(), 2u) << "no answer while the window was built";
    EXPECT_EQ(whileWindow[0].value("result").toString(), "ok");
    EXPECT_FALSE(listed(whileWindow[0], "id", builtWindow)) << "listed before it was finished";
    EXPECT_EQ(whileWindow[1].value("result").toString(), "ok");
    EXPECT_TRUE(listed(post("/window/list.json", { { "pro_id", pro } }), "id", builtWindow));
    EXPECT_TRUE(made->getWindow(builtWindow)->getRenderer());
}

// Two adds of one name at once: only one is acknowledged, and that one is
// made (the name is taken when the add is accepted, not when it is made).
TEST_F(ControlRoad, SameNameAddsAtOnceAcknowledgeOnlyWhatIsMade)
{
    const QString pro = addProgram("Twins");
    ASSERT_FALSE(pro.isEmpty());
    const QJsonObject program { { "name", "Twin program" }, { "frameRate", 25 },
        { "resolution", QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.7778 } } } };
    const Requests both { { "/window/add.json", windowBody(pro, "Twin") }, { "/program/add.json", program } };
    const std::vector<QJsonObject> replies = sendAtOnce({ both, both });
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0].value("result").toString() == "ok", replies[2] == fail("window.nameError"));
    EXPECT_EQ(replies[1].value("result").toString() == "ok", replies[3] == fail("program.nameError"));
    int windowsAcknowledged = 0, programsAcknowledged = 0;
    for (size_t i = 0; i < replies.size(); ++i)
        (i % 2 ? programsAcknowledged : windowsAcknowledged) += replies[i] == kOk ? 1 : 0;
    EXPECT_EQ(windowsAcknowledged, 1);
    EXPECT_EQ(programsAcknowledged, 1);

    const auto named = [](const QJsonObject& list, const QString& name) {
        int found = 0;
        for (const QJsonValue& entry : list.value("data").toArray())
            found += entry.toObject().value("name").toString() == name ? 1 : 0;
        return found;
    };
    const QSharedPointer<ProjectObject> twins = BaseConfig::getInstance()->getProgram(pro);
    EXPECT_TRUE(testsupport::waitFor([&] { return named(twins->getWindowList(), "Twin") == 1; }));
    EXPECT_TRUE(
        testsupport::waitFor([&] { return named(BaseConfig::getInstance()->programListJson(), "Twin program") == 1; }));
}

// Adds and changes sent at once whose number ranges meet: only the first
// is acknowledged, and every acknowledged one is made with its numbers.
TEST_F(ControlRoad, OverlappingNumberRangesAtOnceAcknowledgeOnlyWhatIsMade)
{
    const QString pro = addProgram("Numbers");
    ASSERT_FALSE(pro.isEmpty());
    const QSharedPointer<ProjectObject> program = BaseConfig::getInstance()->getProgram(pro);
    const auto numbered = [&](const QString& win, const QString& name, int min, int max) {
        QJsonObject body = windowBody(pro, name);
        body.insert("win_id", win);
        body.insert("number_used", true);
        body.insert("number_range", QJsonObject { { "min", min }, { "max", max } });
        return body;
    };
    EXPECT_EQ(post("/window/add.json", windowBody(pro, "Existing")), kOk);
    ASSERT_TRUE(testsupport::waitFor([&] { return program->getWindow(QString::number(program->getLastWinId())); }));
    const QString existing = QString::number(program->getLastWinId());

    const std::vector<QJsonObject> replies = sendAtOnce({
        { { "/window/add.json", numbered("", "First", 1, 4) } },
        { { "/window/add.json", numbered("", "Second", 3, 6) } },
        { { "/window/set_param.json", numbered(existing, "Existing", 4, 8) } },
        { { "/window/add.json", numbered("", "Apart", 9, 9) } },
    });
    ASSERT_EQ(replies.size(), 4u);
    int acknowledged = 0;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(replies[i] == kOk || replies[i] == fail("Range.isDuplicate")) << i;
        acknowledged += replies[i] == kOk ? 1 : 0;
    }
    // Any two of the three meet, so one alone goes through.
    EXPECT_EQ(acknowledged, 1);
    EXPECT_EQ(replies[3], kOk);

    // What was acknowledged is made, nothing else: the numbered windows are
    // the one accepted and "Apart", and their ranges do not meet.
    const auto names = [&] {
        QStringList list;
        for (const QJsonValue& entry : program->getWindowList().value("data").toArray())
            list.append(entry.toObject().value("name").toString());
        return list;
    };
    ASSERT_TRUE(testsupport::waitFor([&] {
        const QStringList now = names();
        return now.contains("Apart") && now.contains("First") == (replies[0] == kOk)
            && now.contains("Second") == (replies[1] == kOk);
    }));
    QList<QPair<int, int>> ranges;
    for (const QJsonValue& entry : program->getWindowList().value("data").toArray()) {
        const QJsonObject range = entry.toObject().value("number_range").toObject();
        if (entry.toObject().value("number_used").toBool())
            ranges.append({ range.value("min").toInt(), range.value("max").toInt() });
    }
    EXPECT_EQ(ranges.size(), 2);
    for (int a = 0; a < ranges.size(); ++a)
        for (int b = a + 1; b < ranges.size(); ++b)
            EXPECT_FALSE(ranges[a].first <= ranges[b].second && ranges[b].first <= ranges[a].second);
}

// The time and kind of a take, sent with "/take/set.json" (also when the
// take itself is refused) or with the WebSocket "take_set", outlive a restart.
TEST_F(ControlRoad, TakeSettingsAreStoredInTheProgramList)
{
    const QString pro = addProgram("Takes");
    ASSERT_FALSE(pro.isEmpty());
    const auto stored = [&] {
        for (const QJsonValue& record : JsonFile::load(g_savePath + "/programs.json").value("data").toArray())
            if (record.toObject().value("pro_id").toString() == pro)
                return QPair<int, int>(
                    record.toObject().value("take_time").toInt(), record.toObject().value("take_select").toInt());
        return QPair<int, int>(-1, -1);
    };

    // Both buses empty: the take is refused, the settings it carried stay.
    EXPECT_EQ(post("/take/set.json", { { "pro_id", pro }, { "time", 3 }, { "select", 4 } }), fail("Take.sourceIsSame"));
    EXPECT_TRUE(testsupport::waitFor([&] { return stored() == qMakePair(3, 4); }));

    servertest::WssClient socket;
    ASSERT_TRUE(socket.open(quint16(g_websocketPort)));
    socket.send(QString::fromUtf8(QJsonDocument(
        QJsonObject { { "socket_type", "take_set" }, { "pro_id", pro }, { "time", 6 },
            { "select", 2 } }).toJson()));
    EXPECT_TRUE(testsupport::waitFor([&] { return stored() == qMakePair(6, 2); }));

    BaseConfig restarted;
    ASSERT_TRUE(restarted.load());
    ASSERT_TRUE(restarted.getProgram(pro));
    EXPECT_EQ(restarted.getProgram(pro)->getTakeParams().value("data").toObject(),
        (QJsonObject { { "time", 6 }, { "select", 2 } }));
    restarted.destroy();
}

// A name of more than 256 characters is refused wherever a name is given;
// 256 still pass.
TEST_F(ControlRoad, NamesLongerThan256CharactersAreRefused)
{
    const QString pro = addProgram("Names");
    ASSERT_FALSE(pro.isEmpty());
    ASSERT_EQ(post("/layout/add.json", { { "pro_id", pro }, { "name", "Base" }, { "template_id", "6" } }), kOk);
    const QString preset = QString::number(BaseConfig::getInstance()->getProgram(pro)->getLastPresetId());

    const QString tooLong(257, QLatin1Char('n'));
    const QString longest(256, QLatin1Char('m'));
    const QJsonObject resolution { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.7778 } };
    const auto cases = [&](const QString& name) {
        return std::vector<std::pair<QByteArray, QJsonObject>> {
            { "/program/add.json", { { "name", "A" + name }, { "frameRate", 25 }, { "resolution", resolution } } },
            { "/program/rename.json", { { "pro_id", pro }, { "name", name } } },
            { "/program/set_param.json",
                { { "pro_id", pro }, { "name", "S" + name }, { "frameRate", 25 }, { "resolution", resolution } } },
            { "/layout/add.json", { { "pro_id", pro }, { "name", "L" + name }, { "template_id", "6" } } },
            { "/layout/rename.json", { { "pro_id", pro }, { "layout_id", preset }, { "name", name } } },
            { "/layout/resave.json", { { "pro_id", pro }, { "win_id", "1" }, { "name", "R" + name } } },
            { "/window/add.json", windowBody(pro, "W" + name) },
            { "/users/add.json",
                { { "username", "U" + name }, { "password", "pw" }, { "alias", "a" }, { "role", "user" } } },
            { "/users/add.json",
                { { "username", "V" + name.left(8) }, { "password", "pw" }, { "alias", name }, { "role", "user" } } },
        };
    };
    for (const auto& c : cases(tooLong))
        EXPECT_EQ(post(c.first, c.second), fail("name.tooLong")) << c.first.constData();
    EXPECT_EQ(BaseConfig::getInstance()->getProgram(pro)->getName(), "Names");
    for (const auto& c : cases(longest.left(255)))
        EXPECT_EQ(post(c.first, c.second), kOk) << c.first.constData();
    EXPECT_EQ(post("/program/rename.json", { { "pro_id", pro }, { "name", longest } }), kOk);
}

// Only the admin role manages accounts; everybody may change their own
// password, alias, phone and description; the last admin stays one; a
// password change ends the sessions of its user.
TEST_F(ControlRoad, OnlyAdminsManageOtherAccountsAndRoles)
{
    ASSERT_EQ(post("/users/add.json",
                  { { "username", "op" }, { "password", "op-pw" }, { "alias", "Op" }, { "role", "user" } }),
        kOk);
    httptest::Client opClient;
    ASSERT_TRUE(opClient.connectTo(quint16(g_httpPort)));
    QByteArray op = loginHeader(opClient, "op", "op-pw");
    ASSERT_FALSE(op.isEmpty());
    const auto asOp = [&](const QByteArray& path, const QJsonObject& body) {
        return servertest::post(opClient, "/api/v2" + path, body, op);
    };
    const auto info = [&](const QByteArray& who) {
        return servertest::post(opClient, "/api/v2/users/info.json", {}, who).value("data").toObject();
    };
    const auto idOf = [&](const QString& name) {
        const QJsonObject list = post("/users/list.json", { { "search", name } });
        for (const QJsonValue& row : list.value("data").toObject().value("list").toArray())
            if (row.toObject().value("username").toString() == name)
                return row.toObject().value("id").toInt();
        return -1;
    };

    const QJsonObject refused = fail("user.permissionError");
    EXPECT_EQ(
        asOp("/users/add.json", { { "username", "x" }, { "password", "p" }, { "alias", "x" }, { "role", "admin" } }),
        refused);
    EXPECT_EQ(asOp("/users/modify.json", { { "username", "admin" }, { "password", "mine" } }), refused);
    EXPECT_EQ(asOp("/users/modify.json", { { "username", "admin" }, { "alias", "a" }, { "role", "user" } }), refused);
    EXPECT_EQ(asOp("/users/modify.json", { { "username", "op" }, { "alias", "Op" }, { "role", "admin" } }), refused);
    EXPECT_EQ(asOp("/users/remove.json", { { "ids", QJsonArray { idOf("admin") } } }), refused);
    EXPECT_EQ(info(header).value("role").toString(), "admin");

    // Its own details, without naming the role: the role stays.
    EXPECT_EQ(asOp("/users/modify.json",
                  { { "username", "op" }, { "alias", "Operator" }, { "phone", "12" }, { "descript", "desk" } }),
        kOk);
    EXPECT_EQ(info(op),
        (QJsonObject { { "username", "op" }, { "alias", "Operator" }, { "role", "user" }, { "phone", "12" },
            { "descript", "desk" } }));
    // Its own password: allowed, and its session ends with it.
    EXPECT_EQ(asOp("/users/modify.json", { { "username", "op" }, { "password", "new-pw" } }), kOk);
    EXPECT_EQ(asOp("/users/session.json", {}), fail("Token.Error"));
    op = loginHeader(opClient, "op", "new-pw");
    ASSERT_FALSE(op.isEmpty());

    // An admin's password change for another user ends that user's sessions too.
    EXPECT_EQ(post("/users/modify.json", { { "username", "op" }, { "password", "third" } }), kOk);
    EXPECT_EQ(asOp("/users/session.json", {}), fail("Token.Error"));

    // The last admin can be neither demoted nor removed; with a second one, it can.
    EXPECT_EQ(
        post("/users/modify.json", { { "username", "admin" }, { "alias", "admin" }, { "role", "user" } }), fail(""));
    EXPECT_EQ(post("/users/remove.json", { { "ids", QJsonArray { idOf("admin") } } }), fail(""));
    EXPECT_EQ(info(header).value("role").toString(), "admin");
    EXPECT_EQ(post("/users/modify.json", { { "username", "op" }, { "alias", "Op" }, { "role", "admin" } }), kOk);
    EXPECT_EQ(post("/users/remove.json", { { "ids", QJsonArray { idOf("op") } } }), kOk);
}

// A client that guesses passwords is answered at once after five failures,
// without a password check, and the back-off ends; the HTTPS thread stays free.
TEST_F(ControlRoad, RepeatedFailedLoginsFromOneAddressAreRefusedAtOnce)
{
    httptest::Client guesser;
    ASSERT_TRUE(guesser.connectTo(quint16(g_httpPort)));
    const auto login = [&](const QString& password) {
        return servertest::post(
            guesser, "/api/v2/users/login.json", { { "username", "admin" }, { "password", password } });
    };
    const QJsonObject wrong = fail(QStringLiteral("用户名或密码错误"));
    // The clock stands still while the client guesses: a loaded machine changes nothing.
    UsersManager* users = BaseConfig::getInstance()->getUsersManager();
    users->setClock([] { return qint64(1) << 40; });
    for (int i = 0; i < UsersManager::kMaxLoginFailures; ++i)
        ASSERT_EQ(login("guess"), wrong) << i;
    // The right password too is refused now; other clients are served.
    EXPECT_EQ(login("vexmo"), wrong);
    EXPECT_EQ(servertest::post(http, "/api/v2/users/session.json", {}, header).value("result").toString(), "ok");

    // Once the back-off is over (the clock moved on), the right password works and clears the record.
    users->setClock([] { return (qint64(1) << 40) + UsersManager::kFirstBackoffMs; });
    EXPECT_EQ(login("vexmo").value("result").toString(), "ok");
    users->setClock(nullptr);
    EXPECT_EQ(login("vexmo").value("result").toString(), "ok");
}

} // namespace
