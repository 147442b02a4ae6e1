#include "model/Preset.h"

#include "PresetRecorder.h"
#include "TestSupport.h"
#include "media/GlobalData.h"

#include <gtest/gtest.h>

namespace {

QJsonObject pos(int id, int number, const QString& type = "")
{
    return { { "id", id }, { "number", number }, { "type", type }, { "z_index", id - 1 }, { "x", 0 }, { "y", 0 },
        { "width", 25 }, { "height", 25 } };
}

// Positions 1 "pvw", 2 "pgm", 3 and 4 ordinary with the numbers 3 and 5.
class PresetSources : public ::testing::Test {
protected:
    void SetUp() override
    {
        GlobalData::instance()->load();
        ASSERT_TRUE(preset.setLayoutJson("P",
            QJsonObject { { "layout_id", "1" },
                { "position", QJsonArray { pos(1, 0, "pvw"), pos(2, 0, "pgm"), pos(3, 3), pos(4, 5) } } }));
        preset.setModified(false);
        rec.events.clear();
    }
    void TearDown() override { Preset::setScreenIndexCheck(nullptr); } // back to the built-in check

    testsupport::TempHome home;
    Preset preset;
    PresetRecorder rec { preset };
};

} // namespace

TEST_F(PresetSources, NewSourceIsAnnouncedOnceAndKeepsItsFirstLabel)
{
    preset.setsource("CAM", "P", 3);
    EXPECT_EQ(rec.events, QStringList { "sendSource(3,CAM,Camera_3)" });
    EXPECT_TRUE(preset.getModified());
    EXPECT_EQ(preset.getSource(3), "CAM");

    rec.events.clear();
    preset.setModified(false);
    preset.setsource("CAM", "P", 3); // already shown
    preset.setsource("CAM", "P", 9); // no such position
    EXPECT_TRUE(rec.events.isEmpty());
    EXPECT_FALSE(preset.getModified());

    preset.setsource("CAM", "P", 4);
    preset.setsource("CAM", "P", 1);
    EXPECT_EQ(rec.events, (QStringList { "sendSource(4,CAM,Camera_3)", "sendSource(1,CAM,PVW)" }));
    EXPECT_EQ(preset.getPatternName("Q", "", "CAM", 5), "Camera_5"); // labels belong to their program
    EXPECT_EQ(GlobalData::instance()->getPatternName("P", "CAM"), "Camera_3");
}

TEST_F(PresetSources, RemovingAndClearingSources)
{
    preset.setStreamId("CAM-A", 1);
    preset.setStreamId("CAM-B", 3);
    EXPECT_TRUE(rec.events.isEmpty()); // the take's silent setter
    EXPECT_FALSE(preset.getModified());

    preset.removeSource(9);
    EXPECT_TRUE(rec.events.isEmpty());
    EXPECT_FALSE(preset.getModified());
    preset.removeSource(3);
    EXPECT_EQ(rec.events, QStringList { "sendSource(3,,)" });
    EXPECT_TRUE(preset.getModified());

    preset.clearSources();
    EXPECT_EQ(preset.getSource(1), "");
    Preset empty;
    PresetRecorder emptyRec(empty);
    empty.clearSources();
    EXPECT_EQ(emptyRec.events, QStringList { "deleteAll()" });
    EXPECT_TRUE(empty.getModified());
}

TEST_F(PresetSources, PositionReportsChangeOnlyExistingPositions)
{
    EXPECT_TRUE(preset.setAspectRatio(3, 1280, 720));
    EXPECT_FALSE(preset.setAspectRatio(9, 1280, 720));
    EXPECT_TRUE(preset.setFrameRate(3, 29.97f));
    EXPECT_FALSE(preset.setFrameRate(9, 25));
    const QJsonObject third
        = preset.writePreset("none").value("videos").toObject().value("position").toArray().at(2).toObject();
    EXPECT_EQ(third.value("aspectRatio"), "1280x720");
    EXPECT_FLOAT_EQ(float(third.value("frameRate").toDouble()), 29.97f);
    EXPECT_TRUE(rec.events.isEmpty());
    EXPECT_FALSE(preset.getModified());

    preset.setAngle(3, 0); // unchanged
    preset.setAngle(9, 90);
    preset.take(9, 500, 1, 0.5f, "CAM");
    EXPECT_TRUE(rec.events.isEmpty());
    EXPECT_FALSE(preset.getModified());
    preset.setAngle(3, 90);
    preset.take(1, 500, 1, 0.5f, "CAM");
    EXPECT_EQ(rec.events, (QStringList { "angleChanged(3,90)", "takeChanged(500,1,0.5,CAM)" }));
    EXPECT_TRUE(preset.getModified());
}

TEST_F(PresetSources, ChangeAllReannouncesTheWholeStateInOrder)
{
    preset.setStreamId("CAM", 3);
    preset.setVideoRectOptions(3, "zoom", false); // any key is kept and re-announced
    preset.setVideoRectOptions(3, "safe_area", true);
    preset.setControlState("vu_meter", true);
    preset.setControlState("custom_key", false);
    preset.setPosition(2, true);
    preset.setOutputType("ndi");
    rec.events.clear();

    const QStringList common {
        "layoutChanged()",
        "angleChanged(1,0)",
        "angleChanged(2,0)",
        "sendSource(3,CAM,Camera_3)",
        "sendSingleState(3,safe_area,true)",
        "sendSingleState(3,zoom,false)",
        "angleChanged(3,0)",
        "sendSource(4,,Camera_5)",
        "angleChanged(4,0)",
        "borderChanged(0,#8c8c8c)",
        "fontChanged(#ffffff,18)",
        "audioGainChanged(0)",
        "sendStateOption(custom_key,false)",
        "sendStateOption(vu_meter,true)",
    };
    const QString range = "numRangeChanged(false,0,0)";

    preset.changeAll("P", true);
    EXPECT_EQ(rec.events, common + QStringList { range });

    rec.events.clear();
    preset.changeAll("P", false); // screen 2 is unknown until the screen list is wired in
    EXPECT_EQ(rec.events, (common + QStringList { "liveChanged(ndi)", range }));

    Preset::setScreenIndexCheck([](int screenIndex) { return screenIndex < 1 || screenIndex == 2; });
    rec.events.clear();
    preset.changeAll("P", false);
    EXPECT_EQ(rec.events, (common + QStringList { "positionChanged(2,true)", "liveChanged(ndi)", range }));
    EXPECT_FALSE(preset.getControlState().contains("custom_key"));
}

TEST_F(PresetSources, ControlStateDefaultsAndForms)
{
    const QJsonObject defaults { { "center_cross", false }, { "safe_area", false }, { "name_enable", false },
        { "vu_meter", false }, { "border", QJsonObject { { "enable", false }, { "color", "#8c8c8c" } } },
        { "font", QJsonObject { { "size", 18 }, { "color", "#ffffff" } } }, { "audio_gain", 0 } };
    EXPECT_EQ(Preset().getControlState(), defaults);

    preset.setControlState("vu_meter", true);
    preset.setControlState("border", true, "#123456");
    preset.setControlState("#00ff00", 30);
    preset.setControlState(-12);
    EXPECT_EQ(rec.events,
        (QStringList { "sendStateOption(vu_meter,true)", "borderChanged(1,#123456)", "fontChanged(#00ff00,30)",
            "audioGainChanged(-12)" }));
    EXPECT_TRUE(preset.getModified());

    QJsonObject expected = defaults;
    expected["vu_meter"] = true;
    expected["border"] = QJsonObject { { "enable", true }, { "color", "#123456" } };
    expected["font"] = QJsonObject { { "size", 30 }, { "color", "#00ff00" } };
    expected["audio_gain"] = -12;
    EXPECT_EQ(preset.getControlState(), expected);
}

TEST_F(PresetSources, PositionOptionsReply)
{
    QJsonObject reply { { "kept", 1 } };
    preset.getVideoRectOptions("P", 9, reply);
    preset.setVideoRectOptions(9, "safe_area", true);
    EXPECT_EQ(reply, (QJsonObject { { "kept", 1 } }));
    EXPECT_TRUE(rec.events.isEmpty());
    EXPECT_FALSE(preset.getModified());

    preset.setStreamId("CAM", 4);
    preset.setVideoRectOptions(4, "name_enable", true);
    preset.setAngle(4, 180);
    preset.getVideoRectOptions("P", 4, reply);
    EXPECT_EQ(reply,
        (QJsonObject { { "kept", 1 }, { "result", "ok" },
            { "data",
                QJsonObject { { "pattern_name", "Camera_5" }, { "safe_area", false }, { "vu_meter", false },
                    { "center_cross", false }, { "name_enable", true }, { "angle", 180 } } } }));
}

TEST_F(PresetSources, LayoutParamsJoinGeometryLabelsTallyAndAudioMix)
{
    GlobalData* registry = GlobalData::instance();
    registry->setAudioMixType("P", "CAM-F", "follow");
    registry->setAudioMixType("P", "CAM-A", "always");
    preset.setStreamId("CAM-F", 3);
    preset.setStreamId("CAM-A", 4);
    preset.setStreamId("CAM-F", 1);
    preset.setNumUsed(true);
    preset.setNumRange(1, 4, false);

    QJsonObject reply;
    ASSERT_TRUE(preset.getLayoutParams(reply, "CAM-X", "CAM-F", "P"));
    EXPECT_FALSE(reply.contains("result"));
    EXPECT_EQ(reply.value("layout_id"), "1");
    EXPECT_EQ(reply.value("layout_count"), 4);
    const QJsonArray layout = reply.value("layout").toArray();
    ASSERT_EQ(layout.size(), 4);
    EXPECT_EQ(layout.at(2).toObject(),
        (QJsonObject { { "id", 3 }, { "type", "" }, { "stream_id", "CAM-F" }, { "stream_name", "CAM-F" },
            { "pattern_name", "Camera_3" }, { "number", 3 }, { "number_show", 3 }, { "number_valid", true },
            { "frameRate", 0 }, { "aspectRatio", "" }, { "x", 0 }, { "y", 0 }, { "width", 25 }, { "height", 25 },
            { "z_index", 2 },
            { "audio_mix",
                QJsonObject { { "mix_type", "follow" }, { "pvw_enable", false }, { "pgm_enable", true } } } }));

    struct Row {
        int index;
        int shown;
        bool valid;
        const char* mix;
        bool pvw, pgm;
    };
    for (const Row r : { Row { 0, 0, false, "follow", false, true }, // a bus position is never valid
             Row { 1, 0, false, "close", false, false }, // no source: no mix type
             Row { 3, 5, false, "always", true, true } }) { // tally number beyond the range
        const QJsonObject p = layout.at(r.index).toObject();
        const QJsonObject mix = p.value("audio_mix").toObject();
        EXPECT_EQ(p.value("number_show"), r.shown) << r.index;
        EXPECT_EQ(p.value("number_valid"), r.valid) << r.index;
        EXPECT_EQ(mix.value("mix_type"), r.mix) << r.index;
        EXPECT_EQ(mix.value("pvw_enable"), r.pvw) << r.index;
        EXPECT_EQ(mix.value("pgm_enable"), r.pgm) << r.index;
    }

    preset.setNumUsed(false);
    ASSERT_TRUE(preset.getLayoutParams(reply, "", "", "P"));
    for (const QJsonValue& p : reply.value("layout").toArray())
        EXPECT_FALSE(p.toObject().value("number_valid").toBool());
    EXPECT_EQ(reply.value("layout").toArray().at(2).toObject().value("number_show"), 3);
}

TEST_F(PresetSources, OutputSelectionAndOrigin)
{
    preset.setPosition(1, false);
    preset.setOutputType("NDI");
    EXPECT_EQ(rec.events, (QStringList { "positionChanged(1,false)", "liveChanged(NDI)" }));
    QJsonObject position, output;
    preset.getPosition(position);
    preset.getOutputType(output);
    EXPECT_EQ(position,
        (QJsonObject { { "result", "ok" }, { "data", QJsonObject { { "select", 1 }, { "isFull", false } } } }));
    EXPECT_EQ(output, (QJsonObject { { "result", "ok" }, { "data", QJsonObject { { "select", "NDI" } } } }));

    EXPECT_TRUE(preset.setFromPosition("pvw", 1));
    EXPECT_FALSE(preset.setFromPosition("pvw", 1));
    EXPECT_TRUE(preset.setFromPosition("pvw", 2));
    QString id;
    int from = 0;
    preset.getFromPosition(id, from);
    EXPECT_EQ(id, "pvw");
    EXPECT_EQ(from, 2);
}
