// One output window: its window file, its parameters and tick rate, its
// renderer and outputs, its start/stop and teardown.
#include "model/WindowObject.h"

#include "TestSupport.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "model/MyTimer.h"
#include "output/AudioOutputMixer.h"
#include "output/MediaOutputManager.h"
#include "render/WindowMultiThreaded.h"

#include <gtest/gtest.h>

#include <QQmlContext>
#include <QQmlEngine>

#include <memory>

namespace {

QJsonObject windowFixture()
{
    bool ok = false;
    QJsonObject file = JsonFile::load(PANOPTRA_TEST_DATA_DIR "/model/window_2.json", &ok);
    EXPECT_TRUE(ok);
    return file;
}

std::shared_ptr<AudioOutputMixer> mixer(const char* name)
{
    return std::make_shared<AudioOutputMixer>(name, 48000, 2, 16, 10);
}

struct Fields {
    QString pro_id, pro_name, win_id, name;
    double width, height;
    int index;
    double aspect, frameRate;
};

Fields fieldsOf(const WindowObject& w)
{
    Fields f;
    f.pro_id = w.getProId();
    f.pro_name = w.getProName();
    f.win_id = w.getWinId();
    f.name = w.getWinName();
    w.getSize(f.width, f.height);
    w.getAspect(f.index, f.aspect);
    f.frameRate = w.getFrameRate();
    return f;
}

void expectFields(const WindowObject& w, const Fields& e, const char* what)
{
    const Fields f = fieldsOf(w);
    EXPECT_EQ(f.pro_id, e.pro_id) << what;
    EXPECT_EQ(f.pro_name, e.pro_name) << what;
    EXPECT_EQ(f.win_id, e.win_id) << what;
    EXPECT_EQ(f.name, e.name) << what;
    EXPECT_EQ(f.width, e.width) << what;
    EXPECT_EQ(f.height, e.height) << what;
    EXPECT_EQ(f.index, e.index) << what;
    EXPECT_EQ(f.aspect, e.aspect) << what;
    EXPECT_EQ(f.frameRate, e.frameRate) << what;
}

TEST(WindowObject, WindowFileRoundTripsAndItsRateReachesTheTick)
{
    const QJsonObject file = windowFixture();
    WindowObject window;
    ASSERT_TRUE(window.read(file));
    expectFields(window, { "1", "Evening show", "2", "Gallery", 1920, 1080, 1, 1.7777777777777777, 50 }, "read");
    EXPECT_EQ(window.getLayoutId(), "4");
    // A window read at 50 fps ticks at 50 fps, with or without a renderer.
    EXPECT_EQ(window.getTickTimer()->frameRate(), 50.0);

    QJsonObject written;
    window.write(written);
    const QJsonObject data = written.value("data").toObject();
    EXPECT_EQ(data.keys(),
        QStringList(
            { "aspect", "frameRate", "height", "index", "name", "preset", "pro_id", "pro_name", "width", "win_id" }));
    EXPECT_EQ(data.value("preset").toObject(), window.writePreset("win_save"));

    WindowObject again;
    ASSERT_TRUE(again.read(written));
    QJsonObject rewritten;
    again.write(rewritten);
    EXPECT_EQ(rewritten, written);
}

TEST(WindowObject, RecordsWithMissingOrMistypedMembers)
{
    const QJsonObject good = windowFixture().value("data").toObject();
    const auto fileWith = [&](const std::function<void(QJsonObject&)>& edit) {
        QJsonObject data = good;
        edit(data);
        return QJsonObject { { "data", data } };
    };
    const Fields before { "7", "Old", "3", "Before", 640, 360, 2, 1.5, 30 };
    const auto primed = [&](WindowObject& w) {
        w.setWinParams(
            before.pro_id, before.pro_name, before.win_id, before.name, before.width, before.height, before.frameRate);
        w.setAspect(before.index, before.aspect);
    };

    for (const char* required : { "pro_id", "win_id", "name", "index", "width", "height", "aspect", "frameRate" }) {
        WindowObject w;
        primed(w);
        EXPECT_FALSE(w.read(fileWith([&](QJsonObject& d) { d.remove(required); }))) << required;
        expectFields(w, before, required);
    }

    WindowObject mistyped;
    ASSERT_TRUE(mistyped.read(fileWith([](QJsonObject& d) {
        d.insert("width", "1920");
        d.insert("index", 1.5);
        d.remove("pro_name");
        d.remove("preset");
    })));
    expectFields(mistyped, { "1", "", "2", "Gallery", 0, 1080, 0, 1.7777777777777777, 50 }, "mistyped");
    EXPECT_EQ(mistyped.getLayoutId(), "");
}

TEST(WindowObject, ParametersReachTheRendererAndTheTickByTheirRules)
{
    testsupport::TempHome home;
    WindowObject window;
    window.setAudioMixerObject(mixer("pgm"), mixer("pvw"));
    // Before the renderer exists the values are stored, and the tick takes the rate at once.
    window.setWinParams("9", "Show", "1", "Main", 1281, 721, 25.0);
    EXPECT_EQ(window.getTickTimer()->frameRate(), 25.0);
    EXPECT_TRUE(window.getRenderer().isNull());

    window.createWindow();
    QSharedPointer<WindowMultiThreaded> renderer = window.getRenderer();
    ASSERT_TRUE(renderer);
    EXPECT_EQ(renderer->proId(), "9");
    EXPECT_EQ(renderer->winId(), "1");
    EXPECT_EQ(renderer->name(), "Show_Main");
    EXPECT_EQ(renderer->width(), 1280);
    EXPECT_EQ(renderer->height(), 720);
    EXPECT_EQ(renderer->frameRate(), 25.0);
    EXPECT_EQ(renderer->encoderBuilds(), 1);

    struct Step {
        const char* what;
        QString name;
        double width, height, fps;
        QString expectName;
        double expectFps, expectTick, expectRendererFps;
        int expectBuilds;
    };
    const std::vector<Step> steps {
        { "rate within 0.01", "Main", 1281, 721, 25.005, "Show_Main", 25.0, 25.0, 25.0, 1 },
        { "rate beyond 0.01", "Main", 1281, 721, 25.02, "Show_Main", 25.02, 25.02, 25.02, 2 },
        { "name only", "Wide", 1281, 721, 25.02, "Show_Wide", 25.02, 25.02, 25.02, 2 },
        { "negative rate", "Wide", 1281, 721, -1.0, "Show_Wide", -1.0, 50.0, 50.0, 3 },
        { "size only", "Wide", 1920, 1080, -1.0, "Show_Wide", -1.0, 50.0, 50.0, 4 },
    };
    for (const Step& s : steps) {
        window.setWinParams("9", "Show", "1", s.name, s.width, s.height, s.fps);
        EXPECT_EQ(window.getFrameRate(), s.expectFps) << s.what;
        EXPECT_EQ(window.getTickTimer()->frameRate(), s.expectTick) << s.what;
        EXPECT_EQ(renderer->name(), s.expectName) << s.what;
        EXPECT_EQ(renderer->frameRate(), s.expectRendererFps) << s.what;
        EXPECT_EQ(renderer->encoderBuilds(), s.expectBuilds) << s.what;
    }
    EXPECT_EQ(renderer->width(), 1920);

    window.changeProName("Late show");
    EXPECT_EQ(renderer->name(), "Late show_Wide");
    window.destroy();
}

TEST(WindowObject, CreateWindowWiresTheSceneAndTheOutputs)
{
    testsupport::TempHome home;
    WindowObject lonely;
    lonely.setAudioMixerObject(nullptr, mixer("pvw"));
    lonely.createWindow();
    EXPECT_TRUE(lonely.getRenderer().isNull()) << "needs both mixers";

    auto pgm = mixer("pgm");
    auto pvw = mixer("pvw");
    WindowObject window;
    window.setWinParams("4", "Show", "2", "Side", 1280, 720, 30.0);
    window.setNdi_web_url("https://10.0.0.5:81/");
    window.setAudioMixerObject(pgm, pvw);
    window.createWindow();
    QSharedPointer<WindowMultiThreaded> first = window.getRenderer();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->qmlFile(), g_resPath + "/qml/PanoptraLayout.qml");
    EXPECT_EQ(MediaOutputManager::instance().getWebControl("4", "2"), "https://10.0.0.5:81/");

    QQmlContext* context = first->getQmlEngine()->rootContext();
    EXPECT_EQ(context->contextProperty("audioObject").value<QObject*>(), pgm.get());
    EXPECT_EQ(context->contextProperty("pvwAudioObject").value<QObject*>(), pvw.get());
    EXPECT_EQ(context->contextProperty("winObject").value<QObject*>(), &window);
    EXPECT_NE(context->contextProperty("sourceManager").value<QObject*>(), nullptr);
    EXPECT_EQ(context->contextProperty("windowId").toString(), "2");
    EXPECT_EQ(context->contextProperty("proId").toString(), "4");

    // Made again: the new renderer follows the window's outputs, the mixer once.
    window.createWindow();
    QSharedPointer<WindowMultiThreaded> second = window.getRenderer();
    ASSERT_NE(second, first);
    window.setPosition(2, true);
    window.setOutputType("ndi");
    EXPECT_EQ(second->screenIndex(), 2);
    EXPECT_EQ(second->liveSelect(), "ndi");
    EXPECT_EQ(pgm->windowFlags("2"), qMakePair(true, true));
    EXPECT_EQ(pvw->windowFlags("2"), qMakePair(false, false));
    window.destroy();
}

TEST(WindowObject, ScreenAndOutputStatesGoToTheMixerOfTheWindow)
{
    struct Case {
        const char* win_id;
        bool hasPgm, hasPvw;
        const char* screenTo; // "pgm", "pvw" or "" (nowhere)
        const char* ndiTo;
    };
    const std::vector<Case> cases {
        { "pvw", true, true, "pvw", "pvw" },
        { "pgm", true, true, "pgm", "pgm" },
        { "3", true, true, "pgm", "pgm" },
        { "pgm", false, true, "pvw", "" },
        { "3", false, true, "pvw", "" },
        { "pvw", true, false, "", "" },
        { "3", false, false, "", "" },
    };
    for (const Case& c : cases) {
        auto pgm = c.hasPgm ? mixer("pgm") : nullptr;
        auto pvw = c.hasPvw ? mixer("pvw") : nullptr;
        WindowObject window;
        window.setWinParams("1", "Show", c.win_id, "W", 1280, 720, 25);
        window.setAudioMixerObject(pgm, pvw);
        window.changeScreenState(1, false);
        window.changeNDIState("NDI");
        const auto flags = [&](const std::shared_ptr<AudioOutputMixer>& m) {
            return m ? m->windowFlags(c.win_id) : qMakePair(false, false);
        };
        const QString screenTo = c.screenTo, ndiTo = c.ndiTo;
        EXPECT_EQ(flags(pgm).first, screenTo == "pgm") << c.win_id;
        EXPECT_EQ(flags(pvw).first, screenTo == "pvw") << c.win_id;
        EXPECT_EQ(flags(pgm).second, ndiTo == "pgm") << c.win_id;
        EXPECT_EQ(flags(pvw).second, ndiTo == "pvw") << c.win_id;
    }
}

TEST(WindowObject, StartStopAndDestroy)
{
    testsupport::TempHome home;
    auto pgm = mixer("pgm");
    auto pvw = mixer("pvw");
    WindowObject window;
    window.setWinParams("1", "Show", "1", "Main", 1280, 720, 50.0);
    window.setAudioMixerObject(pgm, pvw);

    window.stop(); // never started: nothing
    EXPECT_FALSE(pgm->isOpen());

    window.createWindow();
    QSharedPointer<WindowMultiThreaded> renderer = window.getRenderer();
    window.start();
    window.start();
    EXPECT_TRUE(window.isStarted());
    EXPECT_TRUE(window.getTickTimer()->isStarted());
    EXPECT_EQ(pgm->openCount(), 1);
    EXPECT_EQ(pvw->openCount(), 1);
    // Every tick asks the renderer for one render.
    ASSERT_TRUE(testsupport::waitFor([&] { return renderer->refreshCount() >= 5; }));

    window.stop();
    EXPECT_FALSE(window.getTickTimer()->isStarted());
    EXPECT_FALSE(pgm->isOpen());
    EXPECT_FALSE(pvw->isOpen());
    // The tick thread has ended: once what it queued before is handled, no
    // render is asked for any more.
    QCoreApplication::processEvents();
    const int stoppedAt = renderer->refreshCount();
    QCoreApplication::processEvents();
    EXPECT_EQ(renderer->refreshCount(), stoppedAt);

    window.setUsedState("1", true);
    window.start();
    window.destroy();
    EXPECT_FALSE(window.getTickTimer()->isStarted());
    EXPECT_TRUE(window.getRenderer().isNull());
    EXPECT_FALSE(window.getLayoutJson().value("used").toBool());
    window.enableRender(false); // no renderer left: only a warning
    window.destroy();
    // The window no longer holds the mixers.
    EXPECT_EQ(pgm.use_count(), 1);
    EXPECT_EQ(pvw.use_count(), 1);
}

} // namespace
