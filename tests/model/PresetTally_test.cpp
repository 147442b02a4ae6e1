#include "model/Preset.h"

#include "PresetRecorder.h"
#include "TestSupport.h"
#include "media/GlobalData.h"

#include <gtest/gtest.h>

namespace {

QJsonObject pos(int id, int number, const QString& type = "")
{
    return { { "id", id }, { "number", number }, { "type", type }, { "z_index", id }, { "x", 0 }, { "y", 0 },
        { "width", 10 }, { "height", 10 } };
}

// Six ordinary positions numbered 1 to 6 (the tally range maps them), or any other set.
class PresetTally : public ::testing::Test {
protected:
    void SetUp() override
    {
        GlobalData::instance()->load();
        layOut(preset, { pos(1, 1), pos(2, 2), pos(3, 3), pos(4, 4), pos(5, 5), pos(6, 6) });
    }
    static void layOut(Preset& p, const QJsonArray& positions)
    {
        ASSERT_TRUE(p.setLayoutJson("P", QJsonObject { { "layout_id", "1" }, { "position", positions } }));
    }
    static std::pair<QString, QString> lists(
        const Preset& p, const QString& pvw, const QString& pgm, int pvwPos = 0, int pgmPos = 0)
    {
        QString pvwList, pgmList;
        p.getTallyState(pvw, pgm, pvwPos, pgmPos, pvwList, pgmList);
        return { pvwList, pgmList };
    }
    static std::pair<QString, QString> flagLists(const Preset& p)
    {
        QString pvwList, pgmList;
        p.getTallyState(pvwList, pgmList);
        return { pvwList, pgmList };
    }

    testsupport::TempHome home;
    Preset preset;
};

using Lists = std::pair<QString, QString>;

} // namespace

TEST_F(PresetTally, RangeMapsPositionNumbersAndCutsOffBeyondItsEnd)
{
    preset.setNumUsed(true);
    preset.setNumRange(5, 8, false);
    preset.setStreamId("CAM-A", 1);
    preset.setStreamId("CAM-B", 2);
    preset.setStreamId("CAM-A", 4);
    preset.setStreamId("CAM-A", 5); // tally number 9: outside the range
    EXPECT_EQ(lists(preset, "CAM-A", "CAM-B"), Lists(",5,8", ",6"));

    struct Lookup {
        int number;
        bool found;
        int pos_id;
        const char* source;
    };
    for (const Lookup l : { Lookup { 5, true, 1, "CAM-A" }, Lookup { 6, true, 2, "CAM-B" }, Lookup { 7, true, 3, "" },
             Lookup { 8, true, 4, "CAM-A" }, Lookup { 9, false, 0, "" }, Lookup { 10, false, 0, "" },
             Lookup { 4, false, 0, "" } }) {
        int pos_id = 0;
        QString source;
        EXPECT_EQ(preset.getSourceByNumber(l.number, pos_id, source), l.found) << l.number;
        EXPECT_EQ(pos_id, l.pos_id) << l.number;
        EXPECT_EQ(source, l.source) << l.number;
    }

    preset.setNumUsed(false);
    int pos_id = 0;
    QString source;
    EXPECT_FALSE(preset.getSourceByNumber(5, pos_id, source));
}

TEST_F(PresetTally, InvalidRangeListsNothingButLookupFollowsItsUpperEnd)
{
    preset.setNumUsed(true);
    preset.setStreamId("CAM", 4);
    preset.changeTallyState("CAM", "pvw");
    struct Case {
        int min, max;
        bool found; // looking up tally number 3
        int pos_id;
    };
    for (const Case c : { Case { 0, 8, true, 4 }, Case { 5, 0, false, 0 }, Case { 8, 5, false, 0 } }) {
        preset.setNumRange(c.min, c.max, false);
        EXPECT_EQ(lists(preset, "CAM", "CAM"), Lists()) << c.min << ".." << c.max;
        EXPECT_EQ(flagLists(preset), Lists()) << c.min << ".." << c.max;
        int pos_id = 0;
        QString source;
        EXPECT_EQ(preset.getSourceByNumber(3, pos_id, source), c.found) << c.min << ".." << c.max;
        EXPECT_EQ(pos_id, c.pos_id) << c.min << ".." << c.max;
    }
}

TEST_F(PresetTally, EmptyBusSourceNamesTheBusPositionWhileItShowsNothing)
{
    Preset bus;
    layOut(bus, { pos(1, 1, "pvw"), pos(2, 2), pos(3, 3) });
    bus.setNumRange(1, 3, false);
    EXPECT_EQ(lists(bus, "", "", 2, 0), Lists(",2", ""));
    bus.setStreamId("CAM", 2);
    EXPECT_EQ(lists(bus, "", "", 2, 0), Lists("", ""));

    // The position's role is not looked at: the bus position lists like any other.
    bus.setStreamId("CAM", 1);
    EXPECT_EQ(lists(bus, "CAM", "OTHER"), Lists(",1,2", ""));
}

TEST_F(PresetTally, RangeAndUseChangesAreReportedOnlyWhenTheyChange)
{
    PresetRecorder rec(preset);
    EXPECT_TRUE(preset.setNumUsed(true));
    EXPECT_FALSE(preset.setNumUsed(true));
    EXPECT_TRUE(preset.setNumRange(1, 4, false));
    EXPECT_FALSE(preset.setNumRange(1, 4, false));
    EXPECT_TRUE(preset.setNumRange(1, 4, true));
    EXPECT_EQ(rec.events, (QStringList { "numRangeChanged(true,1,4)", "numRangeChanged(true,1,4)" }));
    int min = 0, max = 0;
    preset.getNumRange(min, max);
    EXPECT_EQ(std::make_pair(min, max), std::make_pair(1, 4));
}

TEST_F(PresetTally, FlagsFollowTheBusSourceOnOrdinaryPositionsOnly)
{
    Preset p;
    layOut(p, { pos(1, 0, "pvw"), pos(2, 1), pos(3, 2), pos(4, 3) });
    p.setNumRange(1, 2, false);
    p.setStreamId("CAM", 1);
    p.setStreamId("CAM", 2);
    p.setStreamId("CAM", 4); // tally number 3: beyond the range
    p.setStreamId("OTHER", 3);

    p.changeTallyState("CAM", "pvw");
    p.changeTallyState("OTHER", "pgm");
    EXPECT_EQ(flagLists(p), Lists(",1", ",2"));
    p.changeTallyState("", "pvw"); // an empty source is on no position
    EXPECT_EQ(flagLists(p), Lists("", ",2"));
    p.changeTallyState("OTHER", "take"); // any other type clears both
    EXPECT_EQ(flagLists(p), Lists("", ""));

    p.changeTallyState(3, "pgm", true);
    p.changeTallyState(1, "pvw", true); // a bus position keeps the flag but is never listed
    p.changeTallyState(9, "pvw", true);
    p.changeTallyState(2, "PVW", true);
    EXPECT_EQ(flagLists(p), Lists("", ",2"));
}
