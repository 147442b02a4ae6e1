// Start-up and shutdown of the whole application: the built executable is
// run as the operator would run it, with HOME in a temporary folder, and is
// stopped with signals. The test build is sanitized, so exit status 0 also
// means no leak or memory error was found on the way out.
#include "../http/HttpTestClient.h"
#include "../server/ServerTestKit.h"
#include "AppProcess.h"

#include "TestSupport.h"
#include "app/BaseConfig.h"
#include "app/CommonInterface.h"
#include "base/Globals.h"
#include "model/ProjectObject.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QWebSocket>

#include <csignal>
#include <tuple>
#include <vector>

namespace {

using namespace apptest;

// Positions of the lines in order, each searched after the previous one.
::testing::AssertionResult inOrder(const QStringList& lines, const QStringList& texts)
{
    int from = 0;
    for (const QString& text : texts) {
        int at = from;
        while (at < lines.size() && !lines[at].endsWith("\t" + text))
            ++at;
        if (at == lines.size())
            return ::testing::AssertionFailure() << "\"" << text.toStdString() << "\" missing or out of order";
        from = at + 1;
    }
    return ::testing::AssertionSuccess();
}

TEST(Application, StartsInAnEmptyHomeAndShutsDownInOrderOnSignal)
{
    for (const int signal : { SIGTERM, SIGINT }) {
        QTemporaryDir home;
        App app(home.path());
        ASSERT_TRUE(app.waitForLogLine("show .")) << app.process.readAllStandardError().toStdString();

        EXPECT_TRUE(QDir(savePathOf(home.path())).exists());
        ASSERT_EQ(logFiles(home.path()).size(), 1);
        EXPECT_TRUE(QRegularExpression(R"(^log_\d{8}_\d{6}\.\d{3}\.log$)").match(logFiles(home.path())[0]).hasMatch());
        const QStringList firstLines = app.runLogLines().mid(0, 3);
        EXPECT_TRUE(firstLines.join('\n').contains("g_version: \"" + g_version + "\""))
            << firstLines.join('\n').toStdString();
        EXPECT_EQ(QSettings(savePathOf(home.path()) + "/settings.ini", QSettings::IniFormat)
                      .value("settings/level")
                      .toString(),
            "0");
        EXPECT_FALSE(app.process.waitForFinished(testsupport::budgetMs(1000))) << "stopped by itself";

        ASSERT_TRUE(app.stopsCleanly(signal));
        const QStringList lines = app.runLogLines();
        EXPECT_TRUE(inOrder(lines,
            { "show .", QString("shutdown requested by signal %1").arg(signal), "event loop ended .",
                "RegistHttpsRoute::destroy done false", "https thread stopped .", "BaseConfig::destroy done true",
                "BaseConfig worker thread stopped.", "shutdown complete ." }));
        EXPECT_TRUE(inOrder(lines,
            { "BaseConfig::destroy websocket done. true", "BaseConfig::destroy stop discover done. true",
                "BaseConfig::destroy done true" }));
        // The WebSocket server's teardown, queued to the worker, runs before the worker ends.
        EXPECT_TRUE(inOrder(lines, { "show .", "WebSocketServer::onDestroyAll", "BaseConfig worker thread stopped." }));
        EXPECT_TRUE(lines.last().endsWith("\tshutdown complete .")) << lines.last().toStdString();
    }
}

TEST(Application, ChineseSystemLocalesGetTheChineseCatalogueAndAllOthersEnglish)
{
    QTemporaryDir home;
    writeDeviceConfig(home.path());
    const std::vector<std::tuple<QString, QString, QString>> cases { { "zh_CN.UTF-8", "zh", "zh" },
        { "zh_TW.UTF-8", "zh", "zh" }, { "en_US.UTF-8", "en", "en" }, { "de_DE.UTF-8", "de", "en" } };
    for (const auto& [locale, code, catalogue] : cases) {
        App app(home.path(), {}, {}, locale);
        ASSERT_TRUE(app.waitForLogLine("show .")) << locale.toStdString();
        EXPECT_TRUE(inOrder(app.runLogLines(),
            { QString("Current system language code: \"%1\"").arg(code), "load language  " + catalogue }))
            << locale.toStdString();
        ASSERT_TRUE(app.stopsCleanly(SIGTERM));
    }
}

TEST(Application, DevelopingRunWithoutResourcesNamesTheMissingFontAndFails)
{
    QTemporaryDir home, workDir;
    writeDeviceConfig(home.path());
    App app(home.path(), { "--developing" }, workDir.path());
    ASSERT_TRUE(app.process.waitForFinished(testsupport::budgetMs(kStartMs)));
    EXPECT_EQ(app.process.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(app.process.exitCode(), 0);

    // Paths come from the working directory: its res folder is made, and
    // the font is looked for there.
    const QString font = workDir.path() + "/res/ttf/PingFang Regular.ttf";
    EXPECT_TRUE(QDir(workDir.path() + "/res").exists());
    EXPECT_TRUE(app.process.readAllStandardError().contains(font.toUtf8()));
    const QStringList lines = app.runLogLines();
    EXPECT_TRUE(inOrder(lines,
        { "add font failed.", "load PingFang Regular font failed.", "missing resource file " + font,
            "start-up abandoned ." }))
        << lines.join('\n').toStdString();
    EXPECT_FALSE(contains(lines, "show ."));
}

TEST(Application, BrowsersLogInOverHttpsAndTalkOverTheSecureWebSocket)
{
    QTemporaryDir home;
    const quint16 httpPort = testsupport::freePort(), websocketPort = testsupport::freePort();
    writeDeviceConfig(home.path(), httpPort, websocketPort);
    App app(home.path());
    ASSERT_TRUE(app.waitForLogLine("show .")) << app.process.readAllStandardError().toStdString();

    httptest::Client https;
    ASSERT_TRUE(testsupport::waitFor([&] { return https.connectTo(httpPort); }, kStartMs));
    const auto ask = [&](const QByteArray& target, const QByteArray& body, const QByteArray& headers) {
        const int before = https.completeCount();
        https.send("POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers
            + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        return https.replyAt(before);
    };
    const auto json = [](const httptest::Reply& r) { return QJsonDocument::fromJson(r.body).object(); };

    const QJsonObject login = json(ask("/api/v2/users/login.json", R"({"username":"admin","password":"vexmo"})", {}));
    ASSERT_EQ(login.value("result").toString(), "ok");
    const QByteArray header = "app: {\"username\":\"admin\",\"token\":\""
        + login.value("data").toObject().value("token").toString().toLatin1() + "\"}\r\n";
    EXPECT_EQ(json(ask("/api/v2/users/session.json", {}, header)).value("result").toString(), "ok");
    EXPECT_EQ(json(ask("/api/v2/users/logout.json", {}, header)).value("result").toString(), "ok");
    EXPECT_EQ(json(ask("/api/v2/users/session.json", {}, header)),
        (QJsonObject { { "result", "error" }, { "msg", "Token.Error" } }));

    // The placeholder page stands where the browser interface goes.
    const httptest::Reply page = https.get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("Panoptra Pro"));

    QWebSocket socket;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.setSslConfiguration(tls);
    QStringList received;
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString& m) { received.append(m); });
    QObject::connect(&socket, &QWebSocket::connected, [&] { socket.sendTextMessage(R"({"socket_type":"program"})"); });
    socket.open(QUrl(QString("wss://127.0.0.1:%1").arg(websocketPort)));
    ASSERT_TRUE(testsupport::waitFor([&] {
        return std::any_of(received.begin(), received.end(), [](const QString& m) {
            return QJsonDocument::fromJson(m.toUtf8()).object().value("socket_type").toString() == "program";
        });
    })) << received.join('\n').toStdString();
    socket.close();

    ASSERT_TRUE(app.stopsCleanly(SIGTERM));
}

// A closed terminal sends SIGHUP (and the launcher passes it on): the same
// orderly shutdown as SIGTERM, so an edit acknowledged just before is stored.
TEST(Application, HangUpShutsDownInOrderAndKeepsWhatWasAcknowledged)
{
    QTemporaryDir home;
    const quint16 httpPort = testsupport::freePort();
    writeDeviceConfig(home.path(), httpPort);
    App app(home.path());
    ASSERT_TRUE(app.waitForLogLine("show .")) << app.process.readAllStandardError().toStdString();

    httptest::Client https;
    ASSERT_TRUE(testsupport::waitFor([&] { return https.connectTo(httpPort); }, kStartMs));
    const QString token = servertest::login(https);
    ASSERT_FALSE(token.isEmpty());
    const QJsonObject added = servertest::post(https, "/api/v2/program/add.json",
        { { "name", "Hang-up show" }, { "frameRate", 25 },
            { "resolution",
                QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.7778 } } } },
        servertest::appHeader("admin", token));
    ASSERT_EQ(added.value("result").toString(), "ok") << QJsonDocument(added).toJson().toStdString();

    // The program's windows and encoders go too: more than the usual stop takes.
    ::kill(pid_t(app.process.processId()), SIGHUP);
    ASSERT_TRUE(app.process.waitForFinished(kStartMs));
    ASSERT_EQ(app.process.exitStatus(), QProcess::NormalExit) << "killed by the hang-up";
    EXPECT_EQ(app.process.exitCode(), 0) << app.process.readAllStandardError().toStdString();
    const QStringList lines = app.runLogLines();
    EXPECT_TRUE(inOrder(lines,
        { QString("shutdown requested by signal %1").arg(SIGHUP), "event loop ended .", "BaseConfig::destroy done true",
            "shutdown complete ." }));
    QFile programs(savePathOf(home.path()) + "/programs.json");
    ASSERT_TRUE(programs.open(QIODevice::ReadOnly));
    EXPECT_TRUE(programs.readAll().contains("Hang-up show"));
}

TEST(Application, DevelopingSwitchMustBeAnExactArgumentAfterTheProgramName)
{
    const std::vector<std::pair<std::vector<const char*>, bool>> cases {
        { { "app", "--developing" }, true },
        { { "app", "-x", "--developing", "y" }, true },
        { { "--developing" }, false },
        { { "app", "--developing=1" }, false },
        { { "app", "--Developing" }, false },
        { { "app", "developing" }, false },
        { { "app" }, false },
    };
    for (const auto& [args, expected] : cases)
        EXPECT_EQ(CommonInterface::hasDevelopingSwitch(int(args.size()), args.data()), expected)
            << (args.size() > 1 ? args[1] : args[0]);
}

// Programs saved by one run are loaded by the next, and neither the run nor
// its shutdown rewrites any of their files.
TEST(Application, StoredProgramsAreLoadedAndLeftUntouchedByARunAndItsShutdown)
{
    testsupport::TempHome home;
    writeDeviceConfig(home.home());
    {
        BaseConfig controller;
        controller.load();
        const QJsonObject resolution { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.7778 } };
        for (const char* name : { "Morning", "Evening" }) {
            ASSERT_TRUE(
                controller.addProgram({ { "name", name }, { "frameRate", 50 }, { "resolution", resolution } }, {}));
            controller.onProgramChanged(PROGRAM_ADD, QString::number(controller.getLastProId()));
        }
        ASSERT_TRUE(controller.addWindow(
            "2", { { "win_id", "" }, { "name", "Side" }, { "frameRate", 25 }, { "resolution", resolution } }, {}));
        controller.getProgram("2")->onWindowChanged(
            WINDOW_ADD, QString::number(controller.getProgram("2")->getLastWinId()));
        controller.destroy();
    }
    const auto programFiles = [&] {
        QMap<QString, QPair<QByteArray, QDateTime>> files;
        QStringList paths { home.savePath() + "/programs.json" };
        QDirIterator it(home.savePath() + "/programs", QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            paths << it.next();
        for (const QString& path : paths) {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            files.insert(path, { file.readAll(), QFileInfo(path).lastModified() });
        }
        return files;
    };
    const auto before = programFiles();
    ASSERT_EQ(before.size(), 8); // the list, three windows of program 1 and four of program 2

    App app(home.home());
    ASSERT_TRUE(app.waitForLogLine("show .")) << app.process.readAllStandardError().toStdString();
    ASSERT_TRUE(app.stopsCleanly(SIGTERM));
    const QStringList lines = app.runLogLines();
    EXPECT_TRUE(inOrder(lines,
        { "load projects. ", "ProjectObject createWindows true", "ProjectObject createWindows true", "open windows .",
            "BaseConfig::destroy remove program done. true" }))
        << lines.join('\n').toStdString();
    EXPECT_EQ(programFiles(), before);
}

} // namespace
