#pragma once
// The application's controller, WebRTC manager and HTTPS routes, started as
// the application starts them (on loopback ports), with a program of two
// windows of different sizes, and a JSON client for the routes.
#include "../server/ServerTestKit.h"

#include "TestSupport.h"
#include "app/BaseConfig.h"
#include "base/Globals.h"
#include "model/ProjectObject.h"
#include "webrtc/WebrtcManager.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

namespace webrtctest {

class RouteFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_home = new testsupport::TempHome;
        g_httpPort = testsupport::freePort();
        g_websocketPort = testsupport::freePort();
        BaseConfig* controller = BaseConfig::getInstance();
        controller->setWebrtcManager(WebrtcManager::instance());
        controller->initConfigs(); // starts the WebRTC network thread too
        controller->openWindows();
        s_routes = new servertest::HttpsRoutesThread;
        ASSERT_TRUE(s_routes->listening());
        ASSERT_TRUE(WebrtcManager::instance()->isRunning());

        httptest::Client c;
        ASSERT_TRUE(c.connectTo(quint16(g_httpPort)));
        QString token;
        ASSERT_TRUE(servertest::loggedIn(c, &token));
        s_header = servertest::appHeader("admin", token);
        const QStringList before = controller->programIds();
        ASSERT_EQ(
            servertest::post(c, "/api/v2/program/add.json",
                { { "name", "Preview" },
                    { "resolution",
                        QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.7778 } } },
                    { "frameRate", 25 } },
                s_header)
                .value("result")
                .toString(),
            "ok");
        ASSERT_TRUE(testsupport::waitFor([&] { return controller->programIds().size() > before.size(); }));
        for (const QString& id : controller->programIds())
            if (!before.contains(id))
                s_pro = id;
        s_wide = addWindow(c, "Wide", 1280, 720);
        s_small = addWindow(c, "Small", 640, 360);
        ASSERT_FALSE(s_wide.isEmpty());
        ASSERT_FALSE(s_small.isEmpty());
    }
    static void TearDownTestSuite()
    {
        delete s_routes;
        BaseConfig::getInstance()->destroy();
        BaseConfig::getInstance()->stopWorker();
        delete s_home;
    }
    static QString addWindow(httptest::Client& c, const QString& name, int width, int height)
    {
        BaseConfig* controller = BaseConfig::getInstance();
        const int before = controller->getProgram(s_pro)->getLastWinId();
        const QJsonObject reply = servertest::post(c, "/api/v2/window/add.json",
            { { "pro_id", s_pro }, { "win_id", "" }, { "name", name },
                { "resolution",
                    QJsonObject { { "width", width }, { "height", height }, { "index", 1 }, { "aspect", 1.7778 } } },
                { "frameRate", 25 } },
            s_header);
        EXPECT_EQ(reply.value("result").toString(), "ok") << name.toStdString();
        testsupport::waitFor([&] { return controller->getProgram(s_pro)->getLastWinId() != before; });
        return QString::number(controller->getProgram(s_pro)->getLastWinId());
    }
    std::unique_ptr<httptest::Client> client(const QHostAddress& from = QHostAddress())
    {
        auto c = std::make_unique<httptest::Client>();
        EXPECT_TRUE(c->connectTo(quint16(g_httpPort), from));
        return c;
    }

    static testsupport::TempHome* s_home;
    static servertest::HttpsRoutesThread* s_routes;
    static QByteArray s_header;
    static QString s_pro, s_wide, s_small;
};

inline testsupport::TempHome* RouteFixture::s_home = nullptr;
inline servertest::HttpsRoutesThread* RouteFixture::s_routes = nullptr;
inline QByteArray RouteFixture::s_header;
inline QString RouteFixture::s_pro, RouteFixture::s_wide, RouteFixture::s_small;

} // namespace webrtctest
