// The windows of a program: the checks of adding, changing and closing them,
// their order, the program's running state reaching them, their settings,
// numbering ranges and the show options and audio mix of their positions.
#include "PresetRecorder.h"
#include "ProgramFixture.h"
#include "base/JsonFile.h"
#include "media/GlobalData.h"
#include "output/AudioOutputMixer.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace {

QJsonObject windowRequest(const QString& id, const QString& name, bool numbered = false, int min = 0, int max = 0)
{
    return { { "win_id", id }, { "name", name }, { "frameRate", 25 },
        { "resolution", QJsonObject { { "width", 640 }, { "height", 360 }, { "index", 1 }, { "aspect", 1.5 } } },
        { "number_used", numbered }, { "number_range", QJsonObject { { "min", min }, { "max", max } } } };
}

QStringList listedIds(const ProjectObject& program)
{
    QStringList ids;
    for (const QJsonValue& v : program.getWindowList().value("data").toArray())
        ids << v.toObject().value("id").toString();
    return ids;
}

TEST(ProgramWindows, NumberRangesMayNotShareANumber)
{
    ProgramFixture p("21");
    ASSERT_TRUE(p.program.setWindow(windowRequest("", "Ten", true, 1, 10), QString())); // window "2"
    ASSERT_TRUE(p.program.setWindow(windowRequest("", "Off", false, 30, 40), QString())); // "3", not numbered

    struct Case {
        int min, max;
        bool ok;
    };
    for (const Case& c : std::vector<Case> { { 5, 8, false }, { 10, 12, false }, { 0, 20, false }, { 1, 20, false },
             { 11, 20, true }, { 30, 40, true }, { 0, 4, false }, { 8, 4, false } }) {
        const QString what = QString("%1..%2").arg(c.min).arg(c.max);
        QString msg;
        EXPECT_EQ(p.program.checkAddWinValid(windowRequest("", "New", true, c.min, c.max), msg), c.ok)
            << qPrintable(what);
        EXPECT_EQ(msg, c.ok ? "" : "Range.isDuplicate") << qPrintable(what);
        msg.clear();
        EXPECT_EQ(p.program.setWindowRange(
                      "1", { { "number_range", QJsonObject { { "min", c.min }, { "max", c.max } } } }, msg),
            c.ok)
            << qPrintable(what);
        EXPECT_EQ(msg, c.ok ? "" : "Range.isDuplicate") << qPrintable(what);
    }
    QString msg;
    EXPECT_TRUE(p.program.checkAddWinValid(windowRequest("", "New", false, 5, 8), msg)) << "numbering off";
    EXPECT_TRUE(p.program.checkAddWinValid(windowRequest("2", "Ten", true, 2, 9), msg)) << "its own range";

    // A narrower range inside another window's range is refused too.
    p.program.setWindowRange("3", { { "number_range", QJsonObject { { "min", 60 }, { "max", 70 } } } }, msg);
    p.win("3").setNumUsed(true);
    EXPECT_FALSE(
        p.program.setWindowRange("1", { { "number_range", QJsonObject { { "min", 50 }, { "max", 80 } } } }, msg));

    // Windows stored with overlapping ranges stay editable as long as their range stays.
    p.win("3").setNumRange(5, 8, false);
    EXPECT_TRUE(p.program.setWindow(windowRequest("3", "Renamed", true, 5, 8), QString()));
    EXPECT_EQ(p.win("3").getWinName(), "Renamed");
    EXPECT_TRUE(p.program.setWindowRange("3", { { "number_range", QJsonObject { { "min", 5 }, { "max", 8 } } } }, msg));
    EXPECT_FALSE(p.program.setWindow(windowRequest("3", "Renamed", true, 6, 9), QString()));
    int min = 0, max = 0;
    p.win("3").getNumRange(min, max);
    EXPECT_EQ(QString("%1..%2").arg(min).arg(max), "5..8");

    EXPECT_EQ(p.program.getWindowRange("3"),
        QJsonObject({ { "result", "ok" }, { "data", QJsonObject { { "min", 5 }, { "max", 8 } } } }));
    EXPECT_EQ(p.program.getWindowRange("9"), QJsonObject({ { "result", "error" } }));
    EXPECT_FALSE(p.program.setWindowRange("1", { { "number_range", 5 } }, msg));
    EXPECT_FALSE(p.program.setWindowRange("1", { { "number_range", QJsonObject { { "min", 50 } } } }, msg));
}

TEST(ProgramWindows, NamesAndTheAddAndCloseChecks)
{
    ProgramFixture p("22");
    ASSERT_TRUE(p.program.setWindow(windowRequest("", "Side"), QString())); // "2"
    ASSERT_TRUE(p.program.setWindow(windowRequest("", "Stage"), QString())); // "3"
    struct Case {
        const char* what;
        QJsonObject request;
        bool ok;
        const char* msg;
    };
    const std::vector<Case> cases {
        { "new, name taken", windowRequest("", "Stage"), false, "window.nameError" },
        { "new", windowRequest("", "Third"), true, "" },
        { "own name kept", windowRequest("2", "Side"), true, "" },
        { "another window's name", windowRequest("2", "Stage"), false, "window.nameError" },
        { "unknown window", windowRequest("9", "Stage"), true, "" },
        { "no resolution", { { "win_id", "" }, { "name", "X" }, { "frameRate", 25 } }, false, "" },
    };
    for (const Case& c : cases) {
        QString msg;
        EXPECT_EQ(p.program.checkAddWinValid(c.request, msg), c.ok) << c.what;
        EXPECT_EQ(msg, c.msg) << c.what;
    }
    EXPECT_FALSE(p.program.setWindow(windowRequest("2", "Stage"), QString()));
    EXPECT_EQ(p.win("2").getWinName(), "Side");

    QString msg;
    EXPECT_TRUE(p.program.checkRemoveWinValid({ { "win_id", "2" }, { "session_id", "" } }, msg));
    EXPECT_FALSE(p.program.checkRemoveWinValid({ { "win_id", "2" } }, msg));
    EXPECT_FALSE(p.program.checkRemoveWinValid({ { "win_id", "9" }, { "session_id", "" } }, msg));
    // The bus windows stay: nothing would make them again.
    for (const char* bus : { "pvw", "pgm" }) {
        EXPECT_FALSE(p.program.checkRemoveWinValid({ { "win_id", bus }, { "session_id", "" } }, msg)) << bus;
        EXPECT_FALSE(p.program.onProcessClose({ { "win_id", bus }, { "session_id", "" } })) << bus;
        EXPECT_TRUE(p.program.getWindow(bus)) << bus;
        EXPECT_TRUE(p.win(bus).getRenderer()) << bus;
    }
    EXPECT_EQ(msg, "");

    // Closing the current window moves on to the first window that stays.
    ASSERT_TRUE(p.program.switchWindow("1"));
    EXPECT_FALSE(p.program.switchWindow("9"));
    EXPECT_EQ(p.program.getCurrentWinId(), "1");
    ASSERT_TRUE(p.program.onProcessClose({ { "win_id", "1" }, { "session_id", "s" } }));
    EXPECT_EQ(p.program.getCurrentWinId(), "2");
    ASSERT_TRUE(p.program.onProcessClose({ { "win_id", "3" }, { "session_id", "s" } }));
    EXPECT_EQ(p.program.getCurrentWinId(), "2");
    ASSERT_TRUE(p.program.onProcessClose({ { "win_id", "2" }, { "session_id", "s" } }));
    EXPECT_EQ(p.program.getCurrentWinId(), "pgm");
    EXPECT_TRUE(listedIds(p.program).isEmpty());
}

TEST(ProgramWindows, WindowsRunOnlyWhileTheProgramRuns)
{
    ProgramFixture p("23");
    ASSERT_TRUE(p.program.setWindow(windowRequest("", "Stopped"), QString()));
    EXPECT_FALSE(p.win("2").isStarted());
    ASSERT_TRUE(p.program.setWindow(windowRequest("2", "Stopped", false), QString()));
    EXPECT_FALSE(p.win("2").isStarted()) << "a change does not start it";

    p.program.setStatus(true);
    for (const char* id : { "1", "2", "pvw", "pgm" })
        EXPECT_TRUE(p.win(id).isStarted()) << id;
    ASSERT_TRUE(p.program.setWindow(windowRequest("", "Running"), QString()));
    EXPECT_TRUE(p.win("3").isStarted());
    ASSERT_TRUE(p.program.setWindow(windowRequest("3", "Running"), QString()));
    EXPECT_TRUE(p.win("3").isStarted());

    p.program.setStatus(false);
    for (const char* id : { "1", "2", "3", "pvw", "pgm" })
        EXPECT_FALSE(p.win(id).isStarted()) << id;
    EXPECT_FALSE(p.program.getStatus());
}

TEST(ProgramWindows, ListIsInNumericOrderWithoutTheBuses)
{
    testsupport::TempHome home;
    const QString folder = g_savePath + "/programs/program_24";
    for (const char* id : { "10", "2", "9", "pvw", "pgm" }) {
        QJsonObject file = JsonFile::load(PANOPTRA_TEST_DATA_DIR "/model/window_2.json");
        QJsonObject data = file.value("data").toObject();
        data.insert("win_id", id);
        data.insert("name", QString("W") + id);
        file.insert("data", data);
        ASSERT_TRUE(JsonFile::save(folder + "/windows/window_" + id + ".json", file));
    }
    ProjectObject program;
    program.setPath(folder);
    program.load();
    EXPECT_EQ(listedIds(program), QStringList({ "2", "9", "10" }));
}

TEST(ProgramWindows, WindowAndProgramSettings)
{
    ProgramFixture p("25");
    PresetRecorder events(p.win("1"));

    EXPECT_FALSE(p.program.setOutputType("1", {}));
    EXPECT_FALSE(p.program.setOutputType("9", { { "select", "ndi" } }));
    EXPECT_TRUE(p.program.setOutputType("1", { { "select", "ndi" } }));
    EXPECT_EQ(p.program.getOutputType("1").value("data").toObject().value("select"), "ndi");

    struct Case {
        QJsonObject request;
        bool ok;
        const char* emitted;
    };
    const std::vector<Case> cases {
        { { { "type", "font" }, { "config", QJsonObject { { "color", "#ffffff" } } } }, false, nullptr },
        { { { "type", "font" }, { "config", QJsonObject { { "color", "#000000" }, { "size", 20 } } } }, true,
            "fontChanged(#000000,20)" },
        { { { "type", "border" }, { "config", QJsonObject { { "color", "#ffffff" }, { "enable", true } } } }, true,
            "borderChanged(1,#ffffff)" },
        { { { "type", "audio_gain" }, { "config", QJsonObject { { "value", 6 } } } }, true, "audioGainChanged(6)" },
        { { { "type", "safe_area" }, { "config", QJsonObject { { "enable", true } } } }, true,
            "sendStateOption(safe_area,true)" },
        { { { "type", "vu_meter" }, { "config", QJsonObject {} } }, false, nullptr },
        { { { "type", "sparkle" }, { "config", QJsonObject {} } }, true, nullptr },
        { { { "type", "font" } }, false, nullptr },
    };
    for (const Case& c : cases) {
        events.events.clear();
        EXPECT_EQ(p.program.setControlState("1", c.request), c.ok) << qPrintable(c.request.value("type").toString());
        EXPECT_EQ(events.events, c.emitted ? QStringList { c.emitted } : QStringList())
            << qPrintable(c.request.value("type").toString());
    }

    EXPECT_FALSE(p.program.setWinPosition("1", { { "isFull", true } }));
    EXPECT_TRUE(p.program.setWinPosition("1", { { "select", 0 } }));
    EXPECT_EQ(
        p.program.getWinPosition("1").value("data").toObject(), QJsonObject({ { "select", 0 }, { "isFull", false } }));

    p.layout("1", { { 1, 1, "", "CamA" }, { 2, 2, "", "CamB" } });
    EXPECT_TRUE(p.program.removeSource("1", 9));
    EXPECT_TRUE(p.program.removeSource("1", 1));
    EXPECT_EQ(p.win("1").getSource(1), "");
    EXPECT_TRUE(p.program.clearSources("1"));
    EXPECT_EQ(p.win("1").getSource(2), "");
    EXPECT_FALSE(p.program.clearSources("9"));

    QString msg;
    EXPECT_EQ(p.program.getTakeParams(),
        QJsonObject({ { "result", "ok" }, { "data", QJsonObject { { "time", 0 }, { "select", 1 } } } }));
    EXPECT_TRUE(p.program.setTakeParams({ { "time", 3 } }, msg));
    EXPECT_TRUE(p.program.setTakeParams({ { "time", -1 }, { "select", 0 } }, msg));
    EXPECT_EQ(p.program.getTakeParams().value("data").toObject(), QJsonObject({ { "time", 3 }, { "select", 1 } }));
}

TEST(ProgramWindows, PositionLabelAndAudioMixReachTheRegistryFile)
{
    ProgramFixture p("26");
    p.layout("1", { { 1, 1, "", "CamA" }, { 2, 2, "", "" }, { 3, 3, "", "CamA" } });
    const auto pvwMixer = p.program.getPvwMixer();
    const auto pgmMixer = p.program.getPgmMixer();
    QSignalSpy named(pvwMixer.get(), &AudioOutputMixer::sourceNameChanged);
    const auto stored = [] {
        QMap<QString, QString> values;
        for (const QJsonValue& program : JsonFile::load(g_savePath + "/source_contents.json").value("data").toArray())
            if (program.toObject().value("pro_id") == "26")
                for (const QJsonValue& s : program.toObject().value("sources").toArray())
                    values.insert(s.toObject().value("source").toString(),
                        s.toObject().value("mix_type").toString() + "/"
                            + s.toObject().value("pattern_name").toString());
        return values;
    };

    EXPECT_TRUE(p.program.setVideoRectShowOptions(
        "1", { { "pos_id", "1" }, { "type", "name" }, { "config", QJsonObject { { "pattern_name", "Host" } } } }));
    EXPECT_EQ(stored().value("CamA"), "/Host");
    EXPECT_EQ(named.count(), 1);
    EXPECT_TRUE(p.program.setVideoRectShowOptions(
        "1", { { "pos_id", 3 }, { "type", "name" }, { "config", QJsonObject { { "pattern_name", "Host" } } } }));
    EXPECT_EQ(named.count(), 1) << "the same label again";
    EXPECT_EQ(p.program.getVideoRectShowOptions("1", 3).value("data").toObject().value("pattern_name"), "Host");

    ASSERT_TRUE(p.program.setVideoRectAudioType("1", { { "pos_id", 1 }, { "mix_type", "always" } }));
    EXPECT_EQ(stored().value("CamA"), "always/Host");
    EXPECT_TRUE(pvwMixer->isMixed("CamA"));
    EXPECT_TRUE(pgmMixer->isMixed("CamA"));
    ASSERT_TRUE(p.program.setVideoRectAudioType("1", { { "pos_id", 3 }, { "mix_type", "follow" } }));
    EXPECT_EQ(stored().value("CamA"), "follow/Host") << "the mix type belongs to the source";
    EXPECT_FALSE(pvwMixer->isMixed("CamA")) << "not the preview source";
    EXPECT_TRUE(p.program.setVideoRectAudioType("1", { { "pos_id", 3 }, { "mix_type", "follow" } }));
    EXPECT_FALSE(p.program.setVideoRectAudioType("1", { { "pos_id", 2 }, { "mix_type", "always" } })) << "no source";
    EXPECT_FALSE(p.program.setVideoRectAudioType("1", { { "pos_id", 1 } }));

    // Per-position switches and rotation; unknown kinds change nothing.
    PresetRecorder events(p.win("1"));
    EXPECT_TRUE(p.program.setVideoRectShowOptions(
        "1", { { "pos_id", "3" }, { "type", "vu_meter" }, { "config", QJsonObject { { "enable", true } } } }));
    EXPECT_TRUE(p.program.setVideoRectShowOptions(
        "1", { { "pos_id", 3 }, { "type", "angle" }, { "config", QJsonObject { { "value", 90 } } } }));
    EXPECT_TRUE(p.program.setVideoRectShowOptions(
        "1", { { "pos_id", 3 }, { "type", "Name" }, { "config", QJsonObject { { "pattern_name", "X" } } } }));
    EXPECT_FALSE(
        p.program.setVideoRectShowOptions("1", { { "pos_id", 3 }, { "type", "angle" }, { "config", QJsonObject {} } }));
    EXPECT_FALSE(
        p.program.setVideoRectShowOptions("9", { { "pos_id", 3 }, { "type", "angle" }, { "config", QJsonObject {} } }));
    EXPECT_EQ(events.events, QStringList({ "sendSingleState(3,vu_meter,true)", "angleChanged(3,90)" }));
    EXPECT_EQ(stored().value("CamA"), "follow/Host");

    EXPECT_EQ(p.program.getVideoRectShowOptions("9", 1), QJsonObject({ { "result", "error" } }));
    EXPECT_EQ(p.program.getVideoRectShowOptions("1", 9), QJsonObject());
    const QJsonObject param { { "", QJsonValue() } };
    EXPECT_EQ(p.program.getWindowParam("1"), param);
    EXPECT_EQ(p.program.getWindowParam("9"), param);
}

} // namespace
