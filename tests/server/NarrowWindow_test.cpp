// A window as narrow as the window routes accept, added over HTTPS to a
// running program and rendered: its encoding size is bounded, and the heap
// grows by megabytes, not by the gigabytes of pixel buffers the encoding size
// of the scene's aspect alone would need.
#include "../http/HttpTestClient.h"

#include "ControllerFixture.h"
#include "ServerTestKit.h"
#include "TestSupport.h"
#include "app/BaseConfig.h"
#include "base/Globals.h"
#include "model/ProjectObject.h"
#include "model/WindowObject.h"
#include "output/GSTEAMER.h"
#include "render/QuickRenderer.h"
#include "render/SurfaceSetup.h"
#include "render/VideoRender.h"
#include "render/WindowMultiThreaded.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QQmlEngine>
#include <QSize>
#include <QSurfaceFormat>
#include <QThread>

#include <algorithm>
#include <memory>

namespace {

const QJsonObject kOk { { "result", "ok" } };

class NarrowWindow : public servertest::ControllerFixture {
protected:
    static void SetUpTestSuite()
    {
        // As the application's start-up does, before any window builds its
        // encoder or loads its scene.
        GSTEAMER::Init(nullptr, nullptr);
        QSurfaceFormat::setDefaultFormat(SurfaceSetup::applicationFormat());
        qmlRegisterType<VideoRender>("SceneGraphRendering", 1, 0, "Renderer");
        ControllerFixture::SetUpTestSuite();
    }
    void SetUp() override
    {
        httptest::Client http;
        ASSERT_TRUE(http.connectTo(quint16(g_httpPort)));
        header = servertest::appHeader("admin", servertest::login(http));
    }
    // Sent and answered on another thread: this one would run the queued
    // build of a program or window (seconds, with encoders) before it read
    // the reply.
    QJsonObject post(const QByteArray& path, const QJsonObject& body)
    {
        QJsonObject reply;
        std::unique_ptr<QThread> client(QThread::create([&] {
            httptest::Client c;
            if (c.connectTo(quint16(g_httpPort)))
                reply = servertest::post(c, "/api/v2" + path, body, header);
        }));
        client->start();
        client->wait();
        return reply;
    }
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

    QByteArray header;
};

} // namespace

// A window as narrow as the size checks allow (16 x 8192, and 8192 x 16) is
// encoded at a bounded size and costs tens of megabytes. Two usual windows
// come first, so what every first window costs once is paid before.
TEST_F(NarrowWindow, IsEncodedAtABoundedSizeAndCostsTensOfMegabytes)
{
    const QString pro = addProgram("Narrow");
    ASSERT_FALSE(pro.isEmpty());
    const QSharedPointer<ProjectObject> program = BaseConfig::getInstance()->getProgram(pro);
    ASSERT_TRUE(program);
    // The program runs; its windows render as they do for a viewer.
    ASSERT_EQ(post("/program/set_status.json", { { "pro_id", pro }, { "status", true } }), kOk);
    const auto passes = [](const QSharedPointer<WindowObject>& window) {
        const QSharedPointer<WindowMultiThreaded> renderer = window ? window->getRenderer() : nullptr;
        return renderer ? renderer->renderer()->stats().passes : 0;
    };
    // Adds windows of these sizes over the API; the windows.
    const auto add = [&](const QList<QSize>& sizes) {
        QList<QSharedPointer<WindowObject>> added;
        for (const QSize& size : sizes) {
            const QString name = QString("Window %1x%2").arg(size.width()).arg(size.height());
            const QJsonObject body { { "pro_id", pro }, { "win_id", "" }, { "name", name }, { "frameRate", 25 },
                { "resolution",
                    QJsonObject { { "width", size.width() }, { "height", size.height() }, { "index", 0 },
                        { "aspect", double(size.width()) / size.height() } } } };
            EXPECT_EQ(post("/window/add.json", body), kOk);
            QSharedPointer<WindowObject> window;
            EXPECT_TRUE(testsupport::waitFor([&] {
                for (const QJsonValue& entry : program->getWindowList().value("data").toArray())
                    if (entry.toObject().value("name").toString() == name)
                        window = program->getWindow(entry.toObject().value("id").toString());
                return window && window->getRenderer();
            })) << name.toStdString();
            if (!window)
                return added;
            added << window;
        }
        return added;
    };
    // Lets them render a few times, with every buffer made.
    const auto render = [&](const QList<QSharedPointer<WindowObject>>& windows) {
        for (const QSharedPointer<WindowObject>& window : windows)
            window->enableRender(true);
        return testsupport::waitFor([&] {
            return std::all_of(windows.cbegin(), windows.cend(), [&](const auto& w) { return passes(w) >= 3; });
        });
    };
    program->getWindow("pgm")->enableRender(true);
    ASSERT_TRUE(testsupport::waitFor([&] { return passes(program->getWindow("pgm")) >= 2; }));

    const size_t start = testsupport::liveHeapBytes();
    const QList<QSharedPointer<WindowObject>> usualWindows = add({ QSize(1280, 720), QSize(1920, 1080) });
    ASSERT_EQ(usualWindows.size(), 2);
    ASSERT_TRUE(render(usualWindows));
    const size_t usual = testsupport::liveHeapBytes();

    const QList<QSharedPointer<WindowObject>> strips = add({ QSize(16, 8192), QSize(8192, 16) });
    ASSERT_EQ(strips.size(), 2);
    for (const QSharedPointer<WindowObject>& window : strips) {
        int w = 0, h = 0;
        bool changed = false;
        window->getRenderer()->renderer()->getH264Size(w, h, changed);
        ASSERT_EQ(std::max(w, h), 1920) << w << "x" << h;
        ASSERT_GE(std::min(w, h), 16) << w << "x" << h;
        EXPECT_EQ(w % 2 + h % 2, 0) << w << "x" << h;
    }
    ASSERT_TRUE(render(strips));
    const size_t narrow = testsupport::liveHeapBytes();
    const double usualCost = double(usual) - double(start);
    const double narrowCost = double(narrow) - double(usual);
    // Tens of megabytes for the two (their scenes, contexts and encoders);
    // the unbounded encoding size needed gigabytes.
    EXPECT_LT(narrowCost, 96.0 * 1024 * 1024)
        << "two usual windows: " << usualCost / 1048576 << " MB, two narrow ones: " << narrowCost / 1048576 << " MB";
}
