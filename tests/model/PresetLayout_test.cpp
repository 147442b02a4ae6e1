#include "model/Preset.h"

#include "PresetRecorder.h"
#include "TestSupport.h"
#include "base/JsonFile.h"
#include "media/GlobalData.h"
#include "model/LayoutTemplate.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>

#include <algorithm>
#include <vector>

namespace {

class PresetLayout : public ::testing::Test {
protected:
    void SetUp() override { GlobalData::instance()->load(); } // fresh home: empty registry

    // A layout made from a built-in template the way a program makes one.
    QJsonObject fromTemplate(const QString& template_id, const QString& layout_id = "1") const
    {
        QJsonObject layout = templates.getSelecctTemplate(template_id);
        layout.remove("template_id");
        layout.remove("template_count");
        layout.insert("layout_id", layout_id);
        return layout;
    }
    bool registryWritten() const { return QFile::exists(home.savePath() + "/source_contents.json"); }

    testsupport::TempHome home;
    const LayoutTemplate templates;
};

QJsonObject pos(int id, int z, int number = 1, const QString& type = "")
{
    return { { "id", id }, { "number", number }, { "type", type }, { "z_index", z }, { "x", 0 }, { "y", 0 },
        { "width", 50 }, { "height", 50 } };
}

QJsonObject with(QJsonObject obj, const QString& key, const QJsonValue& value)
{
    if (value.isUndefined())
        obj.remove(key);
    else
        obj.insert(key, value);
    return obj;
}

QJsonObject firstPosition(const Preset& p)
{
    return p.writePreset("win_save").value("videos").toObject().value("position").toArray().at(0).toObject();
}

} // namespace

TEST_F(PresetLayout, EveryTemplateGivesItsPositionsNumbersAndBusTypes)
{
    QFile f(PANOPTRA_TEST_DATA_DIR "/model/templates.json");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonArray expected = QJsonDocument::fromJson(f.readAll()).object().value("data").toArray();
    ASSERT_EQ(expected.size(), 11);

    for (const QJsonValue& t : expected) {
        const QString id = t.toObject().value("template_id").toString();
        SCOPED_TRACE(id.toStdString());
        Preset p;
        ASSERT_TRUE(p.setLayoutJson("P", fromTemplate("11"))); // twenty positions to shrink from
        ASSERT_TRUE(p.setLayoutJson("P", fromTemplate(id, "5")));
        const QJsonObject layout = p.getLayoutJson();
        EXPECT_EQ(layout.value("position"), t.toObject().value("position"));
        EXPECT_EQ(layout.value("layout_count"), t.toObject().value("template_count"));
        EXPECT_EQ(layout.value("layout_id"), "5");
        EXPECT_EQ(layout.value("name"), t.toObject().value("name"));
        EXPECT_EQ(p.isPvw(1) && p.isPgm(2), id.toInt() <= 5);
        EXPECT_TRUE(p.getModified());
    }
    EXPECT_FALSE(registryWritten()); // template positions carry no source, so no label is recorded
}

TEST_F(PresetLayout, OneWindowOverTenKeepsOnlyPositionOneWithItsOwnState)
{
    Preset p;
    ASSERT_TRUE(p.setLayoutJson("P", fromTemplate("1")));
    p.setStreamId("CAM-A", 1);
    p.setStreamId("CAM-B", 3);
    p.setAspectRatio(1, 1920, 1080);
    p.setFrameRate(1, 50);
    p.setVideoRectOptions(1, "safe_area", true);
    p.changeTallyState(1, "pvw", true);
    p.changeTallyState(1, "pgm", true);
    p.setAngle(1, 90);

    ASSERT_TRUE(p.setLayoutJson("P", fromTemplate("6")));
    const QJsonArray positions = p.writePreset("win_save").value("videos").toObject().value("position").toArray();
    ASSERT_EQ(positions.size(), 1);
    const QJsonObject expected {
        { "id", 1 },
        { "number", 1 },
        { "type", "" },
        { "z_index", 0 },
        { "x", 0 },
        { "y", 0 },
        { "width", 100 },
        { "height", 100 },
        { "stream_id", "" }, // the template names no source, aspect or rate
        { "aspectRatio", "" },
        { "frameRate", 0 },
        { "stream_name", "CAM-A" }, // the rest belongs to the position
        { "safe_area", true },
        { "vu_meter", false },
        { "center_cross", false },
        { "name_enable", false },
        { "pvw_state", true },
        { "pgm_state", true },
        { "angle", 90 },
    };
    EXPECT_EQ(positions.at(0).toObject(), expected);
}

TEST_F(PresetLayout, PositionsAreAnnouncedInStackingOrder)
{
    Preset p;
    PresetRecorder rec(p);
    const QJsonObject layout {
        { "layout_id", "7" },
        { "name", "Mine" },
        { "layout_count", 99 },
        { "client_note", "kept" },
        { "position", QJsonArray { pos(3, 3), with(pos(1, 1), "x", 33.3333), pos(2, 2) } },
    };
    ASSERT_TRUE(p.setLayoutJson("P", layout));
    ASSERT_EQ(rec.events, QStringList { "layoutChanged()" });

    const QJsonObject announced = QJsonDocument::fromJson(rec.lastLayout.toUtf8()).object();
    std::vector<int> zs;
    for (const QJsonValue& v : announced.value("position").toArray())
        zs.push_back(v.toObject().value("z_index").toInt());
    EXPECT_EQ(zs, (std::vector<int> { 1, 2, 3 }));
    EXPECT_EQ(announced.value("layout_count"), 3);
    EXPECT_EQ(announced.value("client_note"), "kept");
    EXPECT_EQ(p.getLayoutName(), "Mine");
    EXPECT_EQ(p.getLayoutJson().value("position").toArray().at(0).toObject().value("x").toDouble(), 33.3333);
}

TEST_F(PresetLayout, RefusedLayoutLeavesThePresetExactlyAsItWas)
{
    const QJsonObject sourced = with(pos(1, 0, 4), "stream_id", "NEW-CAM"); // would be labelled Camera_4
    struct Case {
        const char* what;
        QJsonObject layout;
    };
    const QJsonObject base { { "layout_id", "9" }, { "name", "Broken" } };
    const Case cases[] = {
        { "no layout_id", with(with(base, "layout_id", QJsonValue::Undefined), "position", QJsonArray { sourced }) },
        { "no position", base },
        { "id 0 sorted last", with(base, "position", QJsonArray { sourced, pos(0, 5) }) },
        { "id 2.5", with(base, "position", QJsonArray { sourced, with(pos(2, 5), "id", 2.5) }) },
        { "negative id", with(base, "position", QJsonArray { sourced, pos(-3, 5) }) },
        { "no height",
            with(base, "position", QJsonArray { sourced, with(pos(2, 5), "height", QJsonValue::Undefined) }) },
        { "no z_index",
            with(base, "position", QJsonArray { with(pos(2, 5), "z_index", QJsonValue::Undefined), sourced }) },
        { "not an object", with(base, "position", QJsonArray { sourced, 7 }) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Preset p;
        ASSERT_TRUE(p.setLayoutJson("P", fromTemplate("2", "3")));
        p.setStreamId("CAM-A", 3);
        p.setModified(false);
        const QJsonObject before = p.writePreset("win_save");
        PresetRecorder rec(p);

        EXPECT_FALSE(p.setLayoutJson("P", c.layout));
        EXPECT_EQ(p.writePreset("win_save"), before);
        EXPECT_TRUE(rec.events.isEmpty());
        EXPECT_FALSE(p.getModified());
        EXPECT_EQ(GlobalData::instance()->getPatternName("P", "NEW-CAM"), "");
    }
    EXPECT_FALSE(registryWritten());
}

TEST_F(PresetLayout, PositionOtherThanAnArrayIsAnEmptyLayout)
{
    for (const QJsonValue& given : { QJsonValue("abc"), QJsonValue(5) }) {
        Preset p;
        ASSERT_TRUE(p.setLayoutJson("P", fromTemplate("4")));
        EXPECT_TRUE(p.setLayoutJson("P", QJsonObject { { "layout_id", "2" }, { "position", given } }));
        EXPECT_EQ(p.getLayoutJson().value("position"), QJsonArray());
        EXPECT_EQ(p.getLayoutJson().value("layout_count"), 0);
    }
    EXPECT_EQ(Preset().getLayoutJson(),
        (QJsonObject { { "position", QJsonArray() }, { "layout_id", "" }, { "layout_count", 0 }, { "name", "" },
            { "used", false } }));
}

TEST_F(PresetLayout, BrowserLayoutLabelsANewSourceAfterItsPositionNumber)
{
    Preset p;
    const QJsonObject layout { { "layout_id", "1" },
        { "position",
            QJsonArray { with(pos(1, 0, 0, "pvw"), "stream_id", "BUS-CAM"), with(pos(2, 1, 4), "stream_id", "CAM-X"),
                with(with(pos(3, 2, 2), "stream_id", "CAM-Y"), "frameRate", 25) } } };
    GlobalData::instance()->setPatternName("P", "CAM-Y", "Host");
    ASSERT_TRUE(p.setLayoutJson("P", layout));
    EXPECT_EQ(GlobalData::instance()->getPatternName("P", "CAM-X"), "Camera_4");
    EXPECT_EQ(GlobalData::instance()->getPatternName("P", "CAM-Y"), "Host"); // an existing label stays
    EXPECT_EQ(GlobalData::instance()->getPatternName("P", "BUS-CAM"), ""); // bus positions are not labelled
    EXPECT_EQ(p.getSource(2), "CAM-X");
    EXPECT_EQ(firstPosition(p).value("stream_name"), ""); // applying a layout names no source
}

TEST(StackingOrder, ElementsWithoutZIndexSortLastKeepingTheirOrder)
{
    const QJsonValue a = QJsonObject { { "id", "a" } };
    const QJsonValue b = QJsonObject { { "id", "b" } };
    const QJsonValue z1 = QJsonObject { { "z_index", 1 } };
    const QJsonValue z2 = QJsonObject { { "z_index", 2 } };
    const QJsonValue z2again = QJsonObject { { "z_index", 2 }, { "second", true } };
    std::vector<QJsonValue> values { a, z2, QJsonValue(5), z1, b, z2again };
    std::stable_sort(values.begin(), values.end(), caseInsensitiveLessThan);
    EXPECT_EQ(values, (std::vector<QJsonValue> { z1, z2, z2again, a, QJsonValue(5), b }));

    // Irreflexive and asymmetric across the mixed pairs.
    for (const QJsonValue& x : { a, z1, QJsonValue(5) }) {
        EXPECT_FALSE(caseInsensitiveLessThan(x, x));
        for (const QJsonValue& y : { a, z1, QJsonValue(5) })
            EXPECT_FALSE(caseInsensitiveLessThan(x, y) && caseInsensitiveLessThan(y, x));
    }
}
