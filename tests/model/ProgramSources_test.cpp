// Putting sources on positions and buses, the take between the buses, the
// program's tally lists that follow them, and camera commands to the source
// shown on a position.
#include "PresetRecorder.h"
#include "ProgramFixture.h"
#include "model/PtzControl.h"
#include "output/AudioOutputMixer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

// Window "1": two sources, a preview position and a program position,
// numbered 1..4.
struct Sources : ProgramFixture {
    explicit Sources(const QString& id)
        : ProgramFixture(id)
    {
        layout("1", { { 1, 1, "", "CamA" }, { 2, 2, "", "CamB" }, { 3, 3, "pvw", "" }, { 4, 4, "pgm", "" } });
        number("1", 1, 4);
    }
    bool set(const QString& fromWin, int fromPos, const QString& toWin, int toPos, const QString& source)
    {
        return program.setVideoRectSource(fromWin, fromPos, "", 0, toWin, toPos, source);
    }
    QStringList tally(const char* side) const
    {
        QStringList numbers;
        for (const QJsonValue& v : program.getTallyState().value("data").toObject().value(side).toArray())
            numbers << v.toString();
        return numbers;
    }
    int takeTime() const { return program.getTakeParams().value("data").toObject().value("time").toInt(); }
};

TEST(ProgramSources, BusesTakeSourcesOnTheirFirstPositionAndBusContentStaysOnTheBuses)
{
    Sources s("11");
    PresetRecorder pvwEvents(s.win("pvw"));

    ASSERT_TRUE(s.set("1", 1, "pvw", 1, "CamA"));
    EXPECT_EQ(s.bus("pvw"), "CamA");
    EXPECT_EQ(s.from("pvw"), "1:1");
    EXPECT_EQ(s.program.getPvwMixer()->videoSource(), "CamA");
    EXPECT_EQ(pvwEvents.events.size(), 1);
    EXPECT_TRUE(s.set("1", 1, "pvw", 1, "CamA")) << "the same source again";
    EXPECT_EQ(pvwEvents.events.size(), 1) << "changes nothing";

    // The preview position of an ordinary window stands for the bus.
    ASSERT_TRUE(s.set("1", 2, "1", 3, "CamB"));
    EXPECT_EQ(s.bus("pvw"), "CamB");
    EXPECT_EQ(s.win("1").getSource(3), "") << "the bus position keeps no source of its own";
    ASSERT_TRUE(s.set("1", 1, "1", 4, "CamA"));
    EXPECT_EQ(s.bus("pgm"), "CamA");
    EXPECT_EQ(s.program.getPgmMixer()->videoSource(), "CamA");

    // Bus content never lands on an ordinary position.
    EXPECT_FALSE(s.set("1", 3, "1", 2, "CamB"));
    EXPECT_FALSE(s.set("1", 4, "1", 2, "CamA"));
    EXPECT_EQ(s.win("1").getSource(2), "CamB");

    // Ordinary positions take any source; the same one again is no change.
    EXPECT_TRUE(s.set("", 0, "1", 2, "CamC"));
    EXPECT_EQ(s.program.getVideoRectSource("1", 2), QJsonObject({ { "stream_id", "CamC" } }));
    EXPECT_TRUE(s.set("", 0, "1", 2, "CamC"));
    EXPECT_EQ(s.program.getVideoRectSource("1", 9), QJsonObject({ { "stream_id", "" } }));
    EXPECT_EQ(s.program.getVideoRectSource("7", 1), QJsonObject({ { "result", "error" } }));
    EXPECT_FALSE(s.set("1", 1, "7", 1, "CamA")) << "no such target window";

    // An empty source clears the bus; from the same place again it is no change.
    ASSERT_TRUE(s.set("1", 2, "pvw", 1, ""));
    EXPECT_EQ(s.bus("pvw"), "");
    const int events = pvwEvents.events.size();
    EXPECT_TRUE(s.set("1", 2, "pvw", 1, ""));
    EXPECT_EQ(pvwEvents.events.size(), events);

    // A control panel asks by tally number: 3 + 1 is position 4 of window "1".
    s.layout("1", { { 1, 1, "", "CamA" }, { 2, 2, "", "CamB" }, { 3, 3, "pvw", "" }, { 4, 4, "", "CamD" } });
    ASSERT_TRUE(s.program.setVideoRectSource("", 0, "3", 1, "pvw", 1, ""));
    EXPECT_EQ(s.bus("pvw"), "CamD");
    EXPECT_EQ(s.from("pvw"), "1:4");
    EXPECT_FALSE(s.program.setVideoRectSource("", 0, "9", 0, "pvw", 1, "")) << "no position has number 9";
    // A negative offset or number 0 skip the lookup: the given source is used.
    EXPECT_TRUE(s.program.setVideoRectSource("1", 1, "3", -1, "pvw", 1, "CamA"));
    EXPECT_EQ(s.bus("pvw"), "CamA");
}

TEST(ProgramSources, PreviewDroppedOnProgramIsACutThatKeepsTheTakeTime)
{
    Sources s("12");
    ASSERT_TRUE(s.set("1", 1, "pvw", 1, "CamA"));
    ASSERT_TRUE(s.set("1", 2, "pgm", 1, "CamB"));
    QString unused;
    s.program.setTakeParams({ { "time", 3 } }, unused);

    QString msg;
    ASSERT_TRUE(s.program.setVideoRectSource("1", 3, "", 0, "1", 4, "", msg));
    EXPECT_EQ(s.bus("pgm"), "CamA");
    EXPECT_EQ(s.bus("pvw"), "CamB");
    EXPECT_EQ(s.takeTime(), 3) << "a drag-cut leaves the configured time";

    // A refused take is the assignment's answer, with the take's message.
    s.win("pvw").setStreamId("CamB", 1);
    s.win("pgm").setStreamId("CamB", 1);
    EXPECT_FALSE(s.program.setVideoRectSource("1", 3, "", 0, "1", 4, "", msg));
    EXPECT_EQ(msg, "Take.sourceIsSame");
}

TEST(ProgramSources, ARunningTakeBlocksTheBusesOnly)
{
    Sources s("13");
    ASSERT_TRUE(s.set("1", 1, "pvw", 1, "CamA"));
    s.setTaking(true);

    EXPECT_FALSE(s.set("1", 2, "pvw", 1, "CamB"));
    EXPECT_FALSE(s.set("1", 2, "1", 4, "CamB"));
    EXPECT_EQ(s.bus("pvw"), "CamA");
    EXPECT_EQ(s.bus("pgm"), "");
    EXPECT_TRUE(s.set("", 0, "1", 2, "CamC")) << "ordinary positions still take sources";

    QString msg;
    EXPECT_FALSE(s.program.doTake({ { "time", 2 } }, msg));
    EXPECT_EQ(msg, "Take.isUsing");
    EXPECT_TRUE(s.program.doTake({ { "time", 0 } }, msg)) << "a cut takes over a running transition";
    EXPECT_EQ(s.bus("pgm"), "CamA");
}

TEST(ProgramSources, TakeExchangesTheBusesAndTheTallyFollows)
{
    Sources s("14");
    ASSERT_TRUE(s.set("1", 1, "pvw", 1, "CamA"));
    ASSERT_TRUE(s.set("1", 2, "pgm", 1, "CamB"));
    EXPECT_EQ(s.tally("pvw_numbers"), QStringList({ "1" }));
    EXPECT_EQ(s.tally("pgm_numbers"), QStringList({ "2" }));
    QDir(s.program.getPath()).removeRecursively();

    PresetRecorder pgmEvents(s.win("pgm"));
    QString msg;
    ASSERT_TRUE(s.program.doTake({}, msg));
    EXPECT_EQ(pgmEvents.events, QStringList({ "takeChanged(0,1,1,CamA)" }));
    EXPECT_EQ(s.bus("pvw"), "CamB");
    EXPECT_EQ(s.bus("pgm"), "CamA");
    EXPECT_EQ(s.from("pvw"), "1:2");
    EXPECT_EQ(s.from("pgm"), "1:1");
    EXPECT_EQ(s.program.getPvwMixer()->videoSource(), "CamB");
    EXPECT_EQ(s.program.getPgmMixer()->videoSource(), "CamA");
    EXPECT_EQ(s.tally("pvw_numbers"), QStringList({ "2" }));
    EXPECT_EQ(s.tally("pgm_numbers"), QStringList({ "1" }));
    EXPECT_TRUE(s.taking()) << "the bus tiles end the transition";
    // Both bus windows are saved afterwards.
    EXPECT_TRUE(testsupport::waitFor([&] {
        return QFile::exists(s.program.getPath() + "/windows/window_pvw.json")
            && QFile::exists(s.program.getPath() + "/windows/window_pgm.json");
    }));

    // A fader move below the end exchanges nothing and leaves no take running.
    s.setTaking(false);
    pgmEvents.events.clear();
    ASSERT_TRUE(s.program.doTake({ { "progress", 0.5 }, { "time", 0 } }, msg));
    EXPECT_EQ(pgmEvents.events, QStringList({ "takeChanged(0,1,0.5,CamB)" }));
    EXPECT_EQ(s.bus("pgm"), "CamA");
    EXPECT_FALSE(s.taking());
    EXPECT_TRUE(ProgramFrame::instance()->getFrame("14")->getIsTaking());
    ASSERT_TRUE(s.program.doTake({ { "progress", "1.0" } }, msg)) << "numeric text counts";
    EXPECT_EQ(s.bus("pgm"), "CamB");
    EXPECT_EQ(s.bus("pvw"), "CamA");

    // A timed take below the end keeps running.
    s.setTaking(false);
    ASSERT_TRUE(s.program.doTake({ { "progress", 0.2 }, { "time", 2 }, { "select", 4 } }, msg));
    EXPECT_TRUE(s.taking());
    EXPECT_EQ(s.bus("pgm"), "CamB");
    EXPECT_EQ(s.program.getTakeParams(),
        QJsonObject({ { "result", "ok" }, { "data", QJsonObject { { "time", 2 }, { "select", 4 } } } }));
}

TEST(ProgramSources, TakeRefusalsKeepTheBusesButStoreTheTakeValues)
{
    Sources s("15");
    QString msg;
    EXPECT_FALSE(s.program.doTake({ { "time", 5 }, { "select", 2 } }, msg)) << "both buses empty";
    EXPECT_EQ(msg, "Take.sourceIsSame");
    EXPECT_EQ(s.program.getTakeParams().value("data").toObject(), QJsonObject({ { "time", 5 }, { "select", 2 } }));

    ASSERT_TRUE(s.set("1", 1, "pvw", 1, "CamA"));
    ASSERT_TRUE(s.set("1", 1, "pgm", 1, "CamA"));
    msg.clear();
    EXPECT_FALSE(s.program.doTake({ { "time", -1 }, { "select", 0 } }, msg));
    EXPECT_EQ(msg, "Take.sourceIsSame");
    EXPECT_EQ(s.program.getTakeParams().value("data").toObject(), QJsonObject({ { "time", 5 }, { "select", 2 } }));
    EXPECT_FALSE(s.taking());

    ProjectObject busless;
    msg.clear();
    EXPECT_FALSE(busless.doTake({ { "time", 4 } }, msg));
    EXPECT_EQ(msg, "");
    EXPECT_EQ(busless.getTakeParams().value("data").toObject().value("time").toInt(), 0);
}

TEST(ProgramSources, TallyListsEveryNumberedPositionOfTheBusSources)
{
    Sources s("16");
    // Window "2" is numbered 10..12; its third position would be 13.
    ASSERT_TRUE(s.program.setWindow(
        { { "win_id", "" }, { "name", "Two" }, { "frameRate", 25 },
            { "resolution", QJsonObject { { "width", 640 }, { "height", 360 }, { "index", 1 }, { "aspect", 1.5 } } } },
        QString()));
    s.layout("2", { { 1, 1, "", "CamA" }, { 2, 2, "", "" }, { 3, 4, "", "CamA" } });
    s.number("2", 10, 12);
    ASSERT_TRUE(s.set("1", 1, "pvw", 1, "CamA"));
    EXPECT_EQ(s.tally("pvw_numbers"), QStringList({ "1", "10" })) << "number 13 is past the window's range";
    EXPECT_EQ(s.program.getTallyState().value("data").toObject().value("pro_id"), "16");

    // An empty bus counts the position it was filled from while that is empty.
    ASSERT_TRUE(s.set("2", 2, "pgm", 1, ""));
    EXPECT_EQ(s.tally("pgm_numbers"), QStringList({ "11" }));

    s.win("2").setNumRange(5, 4, false);
    EXPECT_EQ(s.tally("pvw_numbers"), QStringList({ "1" })) << "an invalid range contributes nothing";

    ProjectObject busless;
    EXPECT_EQ(busless.getTallyState(),
        QJsonObject({ { "result", "ok" }, { "data", QJsonObject { { "pvw_numbers", "" }, { "pgm_numbers", "" } } } }));
}

// A camera behind a source: it records every call it gets.
class FakeCamera {
public:
    FakeCamera(QStringList& log, bool accepts)
        : log(log)
        , accepts(accepts)
    {
    }
    bool setPtzZoom(float v) { return note("zoom", { v }); }
    bool setPtzZoomSpeed(float v) { return note("zoom_speed", { v }); }
    bool setPtzPanTilt(float p, float t) { return note("pan_tilt", { p, t }); }
    bool setPtzPanTiltSpeed(float p, float t) { return note("pan_tilt_speed", { p, t }); }
    bool setPtzStorePreset(int n) { return note("store", { float(n) }); }
    bool setPtzRecallPreset(int n, float speed) { return note("recall", { float(n), speed }); }
    bool setPtzAutoFocus() { return note("auto_focus", {}); }
    bool setPtzFocus(float v) { return note("focus", { v }); }
    bool setPtzFocusSpeed(float v) { return note("focus_speed", { v }); }
    bool setPtzWhiteBalanceAuto() { return note("wb_auto", {}); }
    bool setPtzWhiteBalanceIndoor() { return note("wb_indoor", {}); }
    bool setPtzWhiteBalanceOutdoor() { return note("wb_outdoor", {}); }
    bool setPtzWhiteBalanceOneshot() { return note("wb_oneshot", {}); }
    bool setPtzWhiteBalanceManual(float r, float b) { return note("wb_manual", { r, b }); }
    bool setPtzExposureAuto() { return note("exposure_auto", {}); }
    bool setPtzExposureManual(float v) { return note("exposure", { v }); }
    bool isSupportPtz() { return note("supported", {}); }

private:
    bool note(const char* call, std::initializer_list<float> values)
    {
        QStringList text;
        for (float v : values)
            text << QString::number(v);
        log << QString("%1(%2)").arg(call, text.join(','));
        return accepts;
    }
    QStringList& log;
    bool accepts;
};

TEST(ProgramSources, CameraCommandsReachTheSourceShownOnThePosition)
{
    Sources s("17");
    ASSERT_TRUE(s.set("1", 2, "pgm", 1, "CamB"));
    QMap<QString, QStringList> calls;
    PtzControl::setLookup([&calls](const QString& source) -> std::shared_ptr<PtzControl> {
        if (source != "CamA" && source != "CamB" && source != "Stuck")
            return nullptr;
        return std::make_shared<PtzConnection<FakeCamera>>(
            std::make_shared<FakeCamera>(calls[source], source != "Stuck"));
    });

    struct Case {
        const char* what;
        QJsonObject request;
        bool ok;
        const char* source; // whose camera got the call
        const char* call;
    };
    const QJsonObject zoom { { "zoom_value", 0.5 } };
    const std::vector<Case> cases {
        { "position", { { "win_id", "1" }, { "pos_id", 1 }, { "type", "ptz_zoom" }, { "data", zoom } }, true, "CamA",
            "zoom(0.5)" },
        { "program position steers the program bus's camera",
            { { "win_id", "1" }, { "pos_id", 4 }, { "type", "ptz_zoom" }, { "data", zoom } }, true, "CamB",
            "zoom(0.5)" },
        { "by tally number", { { "number_id", 2 }, { "type", "ptz_auto_focus" } }, true, "CamB", "auto_focus()" },
        { "numeric text",
            { { "win_id", "1" }, { "pos_id", 1 }, { "type", "ptz_white_balance_manual" },
                { "data", QJsonObject { { "red", "0.25" }, { "blue", 1 } } } },
            true, "CamA", "wb_manual(0.25,1)" },
        { "recall",
            { { "win_id", "1" }, { "pos_id", 1 }, { "type", "ptz_recall_preset" },
                { "data", QJsonObject { { "preset_no", 3 }, { "speed", 0.75 } } } },
            true, "CamA", "recall(3,0.75)" },
        { "exposure level defaults to 0", { { "win_id", "1" }, { "pos_id", 1 }, { "type", "ptz_exposure_manual" } },
            true, "CamA", "exposure(0)" },
        { "recall without speed",
            { { "win_id", "1" }, { "pos_id", 1 }, { "type", "ptz_recall_preset" },
                { "data", QJsonObject { { "preset_no", 3 } } } },
            false, "", "" },
        { "no type", { { "win_id", "1" }, { "pos_id", 1 } }, false, "", "" },
        { "unknown type", { { "win_id", "1" }, { "pos_id", 1 }, { "type", "PTZ_ZOOM" } }, false, "", "" },
        { "empty bus position", { { "win_id", "1" }, { "pos_id", 3 }, { "type", "ptz_auto_focus" } }, false, "", "" },
        { "pos_id present: no number lookup", { { "pos_id", -1 }, { "number_id", 2 }, { "type", "ptz_auto_focus" } },
            false, "", "" },
    };
    for (const Case& c : cases) {
        calls.clear();
        QString msg;
        EXPECT_EQ(s.program.setPtzControl(c.request, msg), c.ok) << c.what;
        EXPECT_EQ(msg, "") << c.what;
        QMap<QString, QStringList> expected;
        if (*c.source)
            expected[c.source] = QStringList { c.call };
        for (auto it = calls.begin(); it != calls.end();)
            it = it->isEmpty() ? calls.erase(it) : std::next(it);
        EXPECT_EQ(calls, expected) << c.what;
    }

    // A source without a connection, and a camera that refuses.
    QString msg;
    ASSERT_TRUE(s.set("", 0, "1", 2, "Unplugged"));
    EXPECT_FALSE(s.program.setPtzControl({ { "win_id", "1" }, { "pos_id", 2 }, { "type", "ptz_auto_focus" } }, msg));
    ASSERT_TRUE(s.set("", 0, "1", 2, "Stuck"));
    EXPECT_FALSE(s.program.setPtzControl({ { "win_id", "1" }, { "pos_id", 2 }, { "type", "ptz_auto_focus" } }, msg));
    EXPECT_EQ(calls.value("Stuck"), QStringList({ "auto_focus()" }));
    PtzControl::setLookup(nullptr);
}

} // namespace
