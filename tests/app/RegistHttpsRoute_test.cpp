// The application's HTTPS server as a browser meets it: the route object is
// started on its own thread exactly as the application starts it, listening
// on a loopback port, and every test talks TLS to it.
#include "../server/ServerTestKit.h"

#include "LogCapture.h"
#include "TestSupport.h"
#include "api/UsersManager.h"
#include "app/BaseConfig.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "base/ZTLogger.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <memory>
#include <vector>

namespace {

const QJsonObject kError { { "result", "error" } };
const QJsonObject kTokenError { { "result", "error" }, { "msg", "Token.Error" } };
// Stands for any reply whose "result" is "ok".
const QJsonObject kAnyOk { { "result", "ok" }, { "any", true } };

using servertest::appHeader;
using servertest::call;
using servertest::jsonOf;
using servertest::post;

bool matches(const QJsonObject& reply, const QJsonObject& expected)
{
    if (expected == kAnyOk)
        return reply.value("result").toString() == "ok";
    return reply == expected;
}

using testsupport::LogCapture;

// Records the pages the server asks the desktop to open.
class PageOpener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened()
    {
        QMutexLocker lock(&m_mutex);
        return m_opened;
    }
public slots:
    void open(const QUrl& url)
    {
        QMutexLocker lock(&m_mutex);
        m_opened.append(url);
    }

private:
    QMutex m_mutex;
    QList<QUrl> m_opened;
};

class HttpsRoutes : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_home = new testsupport::TempHome;
        // A resource folder of our own: a page, a file with a blank in its
        // name, a folder, and a link that leads out of the folder.
        s_webRoot = new QTemporaryDir;
        const QString root = s_webRoot->path();
        writeFile(root + "/index.html", "<html>index</html>");
        writeFile(root + "/a b.txt", "blank");
        QDir().mkpath(root + "/qml");
        writeFile(s_home->home() + "/secret.txt", "outside");
        QFile::link(s_home->home() + "/secret.txt", root + "/link.txt");
        g_resPath = root;

        BaseConfig::getInstance()->getUsersManager()->initDataBase();
        s_routes = new servertest::HttpsRoutesThread;
        ASSERT_TRUE(s_routes->listening());
    }

    static void TearDownTestSuite()
    {
        delete s_routes;
        BaseConfig::getInstance()->destroy(); // as the application ends, closing the users database
        delete s_webRoot;
        delete s_home;
    }

    static void writeFile(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    std::unique_ptr<httptest::Client> client()
    {
        auto c = std::make_unique<httptest::Client>();
        EXPECT_TRUE(c->connectTo(quint16(g_httpPort)));
        return c;
    }

    // Logs in as the default administrator and returns the token.
    QString login(httptest::Client& c)
    {
        QString token;
        EXPECT_TRUE(servertest::loggedIn(c, &token));
        return token;
    }

    static testsupport::TempHome* s_home;
    static QTemporaryDir* s_webRoot;
    static servertest::HttpsRoutesThread* s_routes;
};
testsupport::TempHome* HttpsRoutes::s_home = nullptr;
QTemporaryDir* HttpsRoutes::s_webRoot = nullptr;
servertest::HttpsRoutesThread* HttpsRoutes::s_routes = nullptr;

TEST_F(HttpsRoutes, LoginGivesATokenThatOpensProtectedRoutesUntilLogout)
{
    auto c = client();
    const QString token = login(*c);
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{32}$").match(token).hasMatch()) << token.toStdString();
    const QByteArray header = appHeader("admin", token);

    EXPECT_EQ(post(*c, "/api/v2/users/session.json", {}, header),
        (QJsonObject {
            { "result", "ok" }, { "data", QJsonObject { { "username", "admin" }, { "alias", "admin" } } } }));
    EXPECT_EQ(post(*c, "/api/v2/users/session.json", {}), kTokenError);
    // The user of info comes from the header, whatever the body names.
    const QJsonObject info = post(*c, "/api/v2/users/info.json", { { "username", "nobody" } }, header);
    EXPECT_EQ(info.value("data").toObject().value("username").toString(), "admin");

    // The list never carries a password or a token.
    const QJsonArray rows = jsonOf(call(*c, "GET", "/api/v2/users/list.json?limit=10&page=1", {}, header))
                                .value("data")
                                .toObject()
                                .value("list")
                                .toArray();
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows.at(0).toObject().value("username").toString(), "admin");
    for (const QJsonValue& row : rows) {
        EXPECT_FALSE(row.toObject().contains("password"));
        EXPECT_FALSE(row.toObject().contains("token"));
    }

    EXPECT_EQ(post(*c, "/api/v2/users/logout.json", {}, header), (QJsonObject { { "result", "ok" } }));
    EXPECT_EQ(post(*c, "/api/v2/users/session.json", {}, header), kTokenError);

    // A login by GET, keys in the query, works the same.
    const QJsonObject byGet = jsonOf(call(*c, "GET", "/api/v2/users/login.json?username=admin&password=vexmo"));
    EXPECT_EQ(byGet.value("result").toString(), "ok");
}

// The password check of a login runs on the users manager's hash threads:
// while they are busy the login waits, every other connection is served,
// and on the login's own connection the request behind it waits its turn.
TEST_F(HttpsRoutes, ALoginWaitingForItsHashHoldsUpOnlyItsOwnConnection)
{
    UsersManager* users = BaseConfig::getInstance()->getUsersManager();
    QSemaphore holding, release;
    const auto unblock = qScopeGuard([&] { release.release(UsersManager::kHashThreads); });
    for (int i = 0; i < UsersManager::kHashThreads; ++i) {
        users->hashPool().start([&] {
            holding.release();
            release.acquire();
        });
    }
    ASSERT_TRUE(holding.tryAcquire(UsersManager::kHashThreads, 10000));

    LogCapture log;
    auto waiting = client();
    const QByteArray login = R"({"username":"admin","password":"vexmo"})";
    waiting->send("POST /api/v2/users/login.json HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
        + QByteArray::number(login.size()) + "\r\n\r\n" + login
        + "GET /api/v2/config/nav/nav HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    // The handler has returned, its check queued behind the busy threads.
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return log.contains("[Request done]  \"https://127.0.0.1/api/v2/users/login.json\""); }));

    auto other = client();
    EXPECT_EQ(other->get("/api/v2/config/nav/nav").status, 200);
    EXPECT_EQ(waiting->completeCount(), 0);

    release.release(UsersManager::kHashThreads);
    ASSERT_TRUE(waiting->waitReplies(2, 30000));
    const QJsonObject reply = jsonOf(waiting->replies().at(0));
    EXPECT_EQ(reply.value("result").toString(), "ok");
    const QString token = reply.value("data").toObject().value("token").toString();
    EXPECT_EQ(post(*waiting, "/api/v2/users/session.json", {}, appHeader("admin", token)).value("result"), "ok");
    EXPECT_EQ(waiting->replies().at(1).status, 200);
    EXPECT_NE(waiting->replies().at(1).body, waiting->replies().at(0).body);
}

TEST_F(HttpsRoutes, EveryRouteAnswersWithoutAndWithALogin)
{
    auto c = client();
    const QByteArray header = appHeader("admin", login(*c));

    const QJsonObject nav { { "result", "ok" },
        { "data", QJsonObject { { "main_nav", QJsonObject { { "home", true }, { "picManage", false } } } } } };
    const QJsonObject hidden { { "reuslt", "ok" }, { "count", 1000 }, { "code", 0 },
        { "data",
            QJsonArray { QJsonObject { { "url", "" }, { "type", "bg" }, { "output", 1 }, { "enable", 1 } },
                QJsonObject {
                    { "url", "" }, { "type", "osd" }, { "output", 1 }, { "enable", 1 }, { "position", "" } } } } };
    const QJsonObject noSources { { "result", "ok" }, { "data", QJsonArray() }, { "socket_type", "source" } };
    const QJsonObject noTally { { "result", "error" }, { "socket_type", "tally" } };
    const QJsonObject outputs { { "result", "ok" },
        { "data", QJsonArray { QJsonObject { { "id", 1 }, { "label", "ndi" } } } } };
    const QJsonObject emptyError { { "result", "error" }, { "msg", "" } };
    const QJsonObject noProgram { { "result", "error" }, { "msg", "project id is invalid." } };
    // The virtual display the tests run on; screens are numbered from 1.
    const QJsonObject screens { { "result", "ok" },
        { "data", QJsonArray { QJsonObject { { "id", 1 }, { "label", "screen 1" } } } } };
    const QJsonObject ok { { "result", "ok" } };

    struct Route {
        const char* path;
        QJsonObject anonymous; // the reply without an "app" header
        QJsonObject loggedIn; // the reply with a valid one
    };
    // Every route, in the order the server registers them. Routes whose
    // operations are not available yet still verify the caller first.
    const std::vector<Route> routes {
        { "/config/nav/nav", nav, nav },
        { "/config/features/parameter.json", kAnyOk, kAnyOk },
        { "/config/features/overlaySet.json", kAnyOk, kAnyOk },
        { "/config/general.json", kAnyOk, kAnyOk },
        { "/config/features/pattern.json", kAnyOk, kAnyOk },
        { "/pic/getHide.json", hidden, hidden },
        { "/lang/modify.json", ok, ok },
        { "/program/list.json", kAnyOk, kAnyOk },
        { "/program/add.json", kError, emptyError },
        { "/program/rename.json", kError, kError },
        { "/program/remove.json", kError, kError },
        { "/program/set_status.json", kError, kError },
        { "/program/get_param.json", kError, kError },
        { "/program/set_param.json", kError, kError },
        { "/program/switch.json", kError, kError },
        { "/program/status.json", kError, kError },
        { "/source/list.json", noSources, noSources },
        // No source manager here: the group operations fail with an empty message.
        { "/source/add.json", kError, emptyError },
        { "/source/modify.json", kError, emptyError },
        { "/source/remove.json", kError, emptyError },
        { "/source/get_param.json", kError, kError },
        { "/source/refresh.json", ok, ok },
        { "/webSite/set.json", kError, emptyError },
        { "/window/list.json", kError, kError },
        { "/window/switch.json", kError, kError },
        { "/window/add.json", kError, kError },
        { "/window/set_param.json", kError, kError },
        { "/window/get_param.json", kError, kError },
        { "/window/remove.json", kError, kError },
        { "/window/get_screen_list.json", screens, screens },
        { "/window/get_output_list.json", outputs, outputs },
        { "/webrtc/get_sdp.json", kError, kError },
        { "/webrtc/remove_session.json", kError, kError },
        { "/layout/template.json", kAnyOk, kAnyOk },
        { "/layout/list.json", kError, kError },
        { "/layout/add.json", kError, kError },
        { "/layout/rename.json", kError, kError },
        { "/layout/remove.json", kError, kError },
        { "/resolution/list.json", kAnyOk, kAnyOk },
        { "/frameRate/list.json", { { "result", "ok" }, { "data", QJsonArray { 60, 50, 30, 25 } } },
            { { "result", "ok" }, { "data", QJsonArray { 60, 50, 30, 25 } } } },
        { "/window/get_position.json", kError, noProgram },
        { "/window/set_position.json", kError, noProgram },
        { "/window/get_output_type.json", kError, noProgram },
        { "/window/set_output_type.json", kError, noProgram },
        { "/window/ndi/set_param.json", kError, noProgram },
        { "/window/ndi/get_param.json", kError, noProgram },
        { "/window/get_state_control.json", kError, noProgram },
        { "/window/set_state_control.json", kError, noProgram },
        { "/window/set_layout.json", kError, noProgram },
        { "/window/reload_layout.json", kError, noProgram },
        { "/layout/modify.json", kError, noProgram },
        { "/layout/save.json", kError, noProgram },
        { "/layout/resave.json", kError, noProgram },
        { "/window/delete_sources.json", kError, noProgram },
        { "/window/remove_source.json", kError, noProgram },
        { "/window/set_source.json", kError, emptyError },
        { "/window/get_single_layout.json", kError, noProgram },
        { "/window/set_single_layout.json", kError, noProgram },
        { "/window/set_audio_type.json", kError, noProgram },
        { "/take/set.json", kTokenError, kError },
        { "/take/set_params.json", kTokenError, kError },
        { "/take/get.json", kTokenError, kError },
        { "/take/transition/list.json", kAnyOk, kAnyOk },
        { "/pvw/stream_get.json", kError, noProgram },
        { "/pgm/stream_get.json", kError, noProgram },
        { "/users/login.json", kError, kError }, // no user name in the request
        { "/users/logout.json", kTokenError, kAnyOk },
        { "/users/info.json", kTokenError, kAnyOk },
        { "/users/session.json", kTokenError, kAnyOk },
        { "/users/list.json", kTokenError, kAnyOk },
        { "/users/add.json", kTokenError, emptyError },
        { "/users/remove.json", kTokenError, emptyError },
        { "/users/modify.json", kTokenError, emptyError },
        { "/window/set_num_range.json", kError, noProgram },
        { "/window/get_num_range.json", kError, noProgram },
        { "/ptz/set.json", kError, noProgram },
        { "/tally/P1/get.json", noTally, noTally },
    };
    ASSERT_EQ(routes.size(), 77u);

    for (const Route& route : routes) {
        const QByteArray path = QByteArray("/api/v2") + route.path;
        const httptest::Reply anonymous = call(*c, "GET", path);
        EXPECT_EQ(anonymous.status, 200) << route.path;
        EXPECT_EQ(anonymous.header("Content-Type"), "application/json") << route.path;
        EXPECT_TRUE(matches(jsonOf(anonymous), route.anonymous)) << route.path << ": " << anonymous.body.constData();
    }
    // With the header; logout last, since it ends the login. POST reaches
    // the same handlers as GET.
    std::vector<Route> ordered = routes;
    std::stable_partition(
        ordered.begin(), ordered.end(), [](const Route& r) { return !QByteArray(r.path).contains("logout"); });
    for (const Route& route : ordered) {
        const httptest::Reply reply = call(*c, "POST", QByteArray("/api/v2") + route.path, "{}", header);
        EXPECT_EQ(reply.status, 200) << route.path;
        EXPECT_TRUE(matches(jsonOf(reply), route.loggedIn)) << route.path << ": " << reply.body.constData();
    }
}

TEST_F(HttpsRoutes, ProgramStatusAnswersForStoredPrograms)
{
    // A stored program, read the way start-up reads it.
    ASSERT_TRUE(JsonFile::save(g_savePath + "/programs.json",
        QJsonObject { { "data",
            QJsonArray { QJsonObject { { "pro_id", "4" }, { "name", "Studio" }, { "status", false },
                { "frameRate", 25 }, { "width", 1280 }, { "height", 720 } } } } }));
    QDir().mkpath(g_savePath + "/programs/program_4");
    BaseConfig::getInstance()->load();

    auto c = client();
    const QJsonObject ok { { "result", "ok" } };
    EXPECT_EQ(jsonOf(call(*c, "GET", "/api/v2/program/status.json?pro_id=4")), ok);
    EXPECT_EQ(post(*c, "/api/v2/program/status.json", { { "pro_id", "4" } }), ok);
    EXPECT_EQ(jsonOf(call(*c, "GET", "/api/v2/program/status.json?pro_id=5")), kError);
    EXPECT_EQ(jsonOf(call(*c, "GET", "/api/v2/program/status.json")), kError);
    const QJsonArray listed = jsonOf(call(*c, "GET", "/api/v2/program/list.json")).value("data").toArray();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed.at(0).toObject().value("pro_id").toString(), "4");
}

TEST_F(HttpsRoutes, MatchingIsByWholePathAndIgnoresTheQuery)
{
    auto c = client();
    EXPECT_EQ(jsonOf(call(*c, "GET", "/api/v2/program/list.json?pro_id=1&x")).value("result").toString(), "ok");
    // Not API routes, so file requests that find no file.
    for (const char* path : { "/api/v2/config/nav/nav.json", "/api/v2/program/list.json/", "/api/v2/program/list",
             "/api/v2/tally//get.json", "/api/v2/tally/a%2Fb/get.json", "/api/v2/unknown.json" })
        EXPECT_EQ(call(*c, "GET", path).status, 404) << path;
}

TEST_F(HttpsRoutes, FilesAreServedFromTheResourceFolderOnly)
{
    auto c = client();
    struct Case {
        QByteArray method, target;
        int status;
        QByteArray body;
    };
    const std::vector<Case> cases {
        { "GET", "/", 200, "<html>index</html>" },
        { "POST", "/", 200, "<html>index</html>" },
        { "GET", "/index.html?x=1", 200, "<html>index</html>" },
        { "GET", "/a%20b.txt", 200, "blank" },
        { "GET", "/qml/", 404, "" }, // a folder is not completed to its index
        { "GET", "/missing.html", 404, "" },
        // Out of the folder: as sent, encoded, through a link.
        { "GET", "/../secret.txt", 404, "" },
        { "GET", "/../../../../etc/passwd", 404, "" },
        { "GET", "/%2e%2e%2fsecret.txt", 404, "" },
        { "GET", "/qml/%2E%2E/%2e%2e/secret.txt", 404, "" },
        { "GET", "/link.txt", 404, "" },
    };
    for (const Case& k : cases) {
        const httptest::Reply reply = call(*c, k.method, k.target);
        EXPECT_EQ(reply.status, k.status) << k.target.constData();
        EXPECT_EQ(reply.body, k.body) << k.target.constData();
    }
    EXPECT_TRUE(call(*c, "GET", "/").header("Content-Type").startsWith("text/html"));
}

TEST_F(HttpsRoutes, APanelHeaderOpensOnlyWhatAPanelDoes)
{
    auto c = client();
    const QByteArray panel = "app: {\"terminalType\":1}\r\n";
    const QJsonObject noProgram { { "result", "error" }, { "msg", "project id is invalid." } };
    struct Case {
        const char* path;
        QJsonObject reply;
    };
    const std::vector<Case> cases {
        // Take, source switching, number ranges and PTZ pass without a login.
        // (They reach their operation, which finds no program.)
        { "/take/set.json", kError },
        { "/window/set_source.json", { { "result", "error" }, { "msg", "" } } },
        { "/window/set_num_range.json", noProgram },
        { "/window/get_num_range.json", noProgram },
        { "/ptz/set.json", noProgram },
        // Users, programs, windows and presets always need one.
        { "/users/list.json", kTokenError },
        { "/users/add.json", kTokenError },
        { "/users/remove.json", kTokenError },
        { "/users/modify.json", kTokenError },
        { "/take/set_params.json", kTokenError },
        { "/program/add.json", kError },
        { "/program/set_param.json", kError },
        { "/program/remove.json", kError },
        { "/window/add.json", kError },
        { "/window/set_param.json", kError },
        { "/window/remove.json", kError },
        { "/layout/add.json", kError },
        { "/layout/rename.json", kError },
        { "/layout/remove.json", kError },
        { "/window/set_layout.json", kError },
    };
    for (const Case& k : cases)
        EXPECT_EQ(post(*c, QByteArray("/api/v2") + k.path, {}, panel), k.reply) << k.path;
}

TEST_F(HttpsRoutes, ParametersKeepEncodedCharactersInsideTheirValues)
{
    // A password full of characters that encodings care about, stored
    // through a JSON body and then used by JSON body, by encoded JSON and by
    // query: each form must hand the same text to the login.
    const QString password = "p%41ss&w=rd+";
    auto c = client();
    const QByteArray header = appHeader("admin", login(*c));
    ASSERT_EQ(post(*c, "/api/v2/users/add.json",
                  { { "username", "carol" }, { "password", password }, { "alias", "C" }, { "role", "user" } }, header),
        (QJsonObject { { "result", "ok" } }));

    const QJsonObject credentials { { "username", "carol" }, { "password", password } };
    EXPECT_EQ(post(*c, "/api/v2/users/login.json", credentials).value("result").toString(), "ok");
    const QByteArray json = QJsonDocument(credentials).toJson(QJsonDocument::Compact);
    EXPECT_EQ(jsonOf(call(*c, "POST", "/api/v2/users/login.json", json.toPercentEncoding())).value("result").toString(),
        "ok");
    EXPECT_EQ(jsonOf(call(*c, "GET", "/api/v2/users/login.json?username=carol&password=p%2541ss%26w%3Drd+"))
                  .value("result")
                  .toString(),
        "ok");
    EXPECT_EQ(jsonOf(call(*c, "POST", "/api/v2/users/login.json", "username=carol&password=p%2541ss%26w%3Drd+"))
                  .value("result")
                  .toString(),
        "ok");
    // The decoded form of the password is another password.
    EXPECT_EQ(post(*c, "/api/v2/users/login.json", { { "username", "carol" }, { "password", "pAss&w=rd+" } })
                  .value("result")
                  .toString(),
        "error");
}

TEST_F(HttpsRoutes, PasswordsAndTokensStayOutOfTheLog)
{
    auto c = client();
    const QString token = login(*c);
    LogCapture log;
    call(*c, "GET", "/api/v2/users/login.json?username=admin&password=vexmo");
    call(*c, "GET", "/api/v2/users/info.json?token=" + token.toLatin1(), {}, appHeader("admin", token));
    post(*c, "/api/v2/users/modify.json", { { "username", "admin" }, { "password", "vexmo" } },
        appHeader("admin", token));
    post(*c, "/api/v2/users/session.json", {}, appHeader("admin", token));
    call(*c, "GET", "/api/v2/config/nav/nav?keep=this");

    const QStringList lines = log.lines();
    const QString all = lines.join('\n');
    EXPECT_FALSE(all.contains("vexmo")) << all.toStdString();
    EXPECT_FALSE(all.contains(token)) << all.toStdString();
    EXPECT_TRUE(all.contains("users/login.json?username=***&password=***")) << all.toStdString();
    EXPECT_FALSE(all.contains("session.json")) << "the session check is never logged";
    // Other routes log their query as it is.
    EXPECT_TRUE(all.contains("[Request start]  \"https://127.0.0.1/api/v2/config/nav/nav?keep=this\" , isMain: false"))
        << all.toStdString();
    EXPECT_TRUE(all.contains("[Request done]  \"https://127.0.0.1/api/v2/config/nav/nav?keep=this\" , isMain: false"));
}

TEST_F(HttpsRoutes, LoggedBodiesAreCutAtFourKibibytes)
{
    // Large bodies sent before any token check once pushed the kept log
    // history out of the rotation; now a logged body is cut and says so.
    const int cap = ZTLogger::kLoggedTextBytes;
    struct Route {
        QByteArray path;
        QString label;
    };
    const std::vector<Route> routes {
        { "/api/v2/ptz/set.json", "ptz set request :" },
        { "/api/v2/window/set_num_range.json", "set_num_range request :" },
        { "/api/v2/take/set.json", "take set request:" },
        { "/api/v2/program/set_status.json", "set status " },
        { "/api/v2/window/set_source.json", "window set_source request :" },
    };
    const int big = 1024 * 1024;
    const QByteArray large(big, 'a');
    const QByteArray small(cap, 'b');
    const QString cut
        = QString::fromLatin1(large.left(cap)) + QStringLiteral("... (%1 bytes not logged)").arg(big - cap);
    auto c = client();
    for (const Route& route : routes) {
        SCOPED_TRACE(route.path.constData());
        LogCapture log;
        EXPECT_EQ(call(*c, "POST", route.path, large).status, 200);
        EXPECT_EQ(call(*c, "POST", route.path, small).status, 200);
        const QStringList lines = log.lines().filter(route.label);
        ASSERT_EQ(lines.size(), 2) << lines.join('\n').left(2000).toStdString();
        EXPECT_TRUE(lines[0].contains(cut)) << lines[0].left(200).toStdString();
        EXPECT_LT(lines[0].size(), cap + 300);
        EXPECT_TRUE(lines[1].contains(QString::fromLatin1(small) + "\"")) << "a body within the cap is logged whole";
        EXPECT_FALSE(lines[1].contains("not logged"));
    }

    // A logged-in request for a program that does not exist logs its body.
    const QString token = login(*c);
    LogCapture log;
    const QJsonObject body { { "pro_id", "nope" }, { "win_id", "1" }, { "pad", QString(big, 'a') } };
    EXPECT_EQ(post(*c, "/api/v2/window/set_layout.json", body, appHeader("admin", token)).value("result"), "error");
    const QStringList lines = log.lines().filter("pro_id[nope] is invalid");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QStringLiteral(" bytes not logged)"))) << lines[0].left(200).toStdString();
    EXPECT_LT(lines[0].size(), cap + 300);
}

TEST_F(HttpsRoutes, WebSiteOpensOnlyWebPages)
{
    PageOpener opener;
    QDesktopServices::setUrlHandler("http", &opener, "open");
    QDesktopServices::setUrlHandler("https", &opener, "open");
    QDesktopServices::setUrlHandler("file", &opener, "open");
    QDesktopServices::setUrlHandler("javascript", &opener, "open");

    auto c = client();
    const QByteArray header = appHeader("admin", login(*c));
    const QJsonObject ok { { "result", "ok" } };
    const QJsonObject refused { { "result", "error" }, { "msg", "" } };
    const std::vector<std::pair<QString, QJsonObject>> cases {
        { "https://127.0.0.1/help", ok },
        { "http://localhost:8080/a?b=c", ok },
        { "file:///etc/passwd", refused },
        { "javascript:alert(1)", refused },
        { "/etc/passwd", refused },
        { "https://", refused },
    };
    for (const auto& [url, reply] : cases)
        EXPECT_EQ(post(*c, "/api/v2/webSite/set.json", { { "url", url } }, header), reply) << url.toStdString();
    EXPECT_EQ(post(*c, "/api/v2/webSite/set.json", {}, header), refused);

    EXPECT_EQ(opener.opened(), (QList<QUrl> { QUrl("https://127.0.0.1/help"), QUrl("http://localhost:8080/a?b=c") }));
    for (const char* scheme : { "http", "https", "file", "javascript" })
        QDesktopServices::unsetUrlHandler(scheme);
}

TEST_F(HttpsRoutes, BadInputAndFloodsLeaveTheServerAnsweringWithFlatMemory)
{
    rlimit files {};
    getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 4096 && files.rlim_max >= 4096) {
        files.rlim_cur = 4096;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    auto healthy = [this] {
        auto c = client();
        return jsonOf(call(*c, "GET", "/api/v2/config/nav/nav")).value("result").toString() == "ok";
    };
    ASSERT_TRUE(healthy());
    const size_t heapBefore = testsupport::liveHeapBytes();

    // Bodies that are no JSON, half JSON, or no UTF-8.
    {
        auto c = client();
        for (const QByteArray& body :
            { QByteArray("{\"username\":"), QByteArray("\xff\xfe{\"a\":\"\xc3\x28\"}"), QByteArray("[1,2,3]"),
                QByteArray("%7B%22username%22%3A"), QByteArray(4096, '{'), QByteArray("\0\0\0", 3) }) {
            const httptest::Reply reply = call(*c, "POST", "/api/v2/users/login.json", body);
            EXPECT_EQ(reply.status, 200);
            EXPECT_EQ(jsonOf(reply).value("result").toString(), "error") << body.left(20).toHex().constData();
        }
    }

    // A 100 MB body is refused once its length is known, without reading it.
    {
        auto c = client();
        c->send("POST /api/v2/users/login.json HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 104857600\r\n\r\n");
        const QByteArray chunk(1024 * 1024, 'x');
        for (int i = 0; i < 100 && c->isOpen() && c->completeCount() == 0; ++i) {
            c->send(chunk);
            testsupport::waitFor([&] { return c->socket().bytesToWrite() < 4 * chunk.size() || !c->isOpen(); }, 2000);
        }
        ASSERT_TRUE(c->waitReplies(1));
        EXPECT_EQ(c->replies().at(0).status, 413);
        EXPECT_TRUE(c->waitClosed());
    }
    EXPECT_TRUE(healthy());

    // A thousand connections that never say anything, opened at once: the
    // longest idle ones make room, and a new client is still answered.
    {
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 1000; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, quint16(g_httpPort));
        }
        // Past the server's cap (512) every new one pushes out the longest idle.
        const auto closed = [&] {
            return std::count_if(idle.begin(), idle.end(),
                [](const auto& s) { return s->state() == QAbstractSocket::UnconnectedState; });
        };
        EXPECT_TRUE(testsupport::waitFor([&] { return closed() >= 1000 - 512; }, 20000)) << closed();
        EXPECT_TRUE(healthy());
    }
    EXPECT_TRUE(healthy());

    // Everything those clients cost is given back once they are gone.
    const size_t bound = heapBefore + 8 * 1024 * 1024;
    EXPECT_TRUE(testsupport::waitFor([&] { return testsupport::liveHeapBytes() < bound; }))
        << heapBefore << " -> " << testsupport::liveHeapBytes();
}

} // namespace

#include "RegistHttpsRoute_test.moc"
