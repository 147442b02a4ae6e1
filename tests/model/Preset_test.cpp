#include "model/Preset.h"

#include "TestSupport.h"
#include "base/JsonFile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSharedPointer>

#include <functional>

namespace {

const char* const kWindowOnly[] = { "modified", "from_id", "from_pos", "num_used", "num_min", "num_max" };

QJsonObject fixture(const char* name)
{
    bool ok = false;
    QJsonObject obj = JsonFile::load(QString(PANOPTRA_TEST_DATA_DIR "/model/") + name, &ok);
    EXPECT_TRUE(ok) << name;
    return obj;
}

QJsonObject windowPreset(const QJsonObject& windowFile)
{
    return windowFile.value("data").toObject().value("preset").toObject();
}

// A window file's layout part as the window stores it: the "win_save" form
// inside the record and the angle list beside it.
void readWindowFile(Preset& p, const QJsonObject& file)
{
    p.readPreset(windowPreset(file), "win_save");
    p.readAngles(file.value("angles").toArray());
}

QJsonObject writeWindowFile(const Preset& p, QJsonObject file)
{
    QJsonObject data = file.value("data").toObject();
    data.insert("preset", p.writePreset("win_save"));
    file.insert("data", data);
    file.insert("angles", p.writeAngles());
    return file;
}

QByteArray bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QJsonObject videos(const QJsonObject& form)
{
    return form.value("videos").toObject();
}

QJsonObject position(const QJsonObject& form, int index)
{
    return videos(form).value("position").toArray().at(index).toObject();
}

// Applies edit to the object found under a path of keys ({} is the object itself).
QJsonObject edited(QJsonObject obj, const QStringList& path, const std::function<void(QJsonObject&)>& edit)
{
    if (path.isEmpty()) {
        edit(obj);
        return obj;
    }
    obj.insert(path.first(), edited(obj.value(path.first()).toObject(), path.mid(1), edit));
    return obj;
}

QJsonObject withPositions(const QJsonObject& form, const QJsonArray& positions)
{
    return edited(form, { "videos" }, [&](QJsonObject& o) { o.insert("position", positions); });
}

} // namespace

TEST(PresetFiles, BothStoredFormsRoundTripLosslesslyAndStably)
{
    testsupport::TempHome home;
    struct Case {
        const char* fixture;
        bool window;
    };
    for (const Case c : { Case { "preset_1.json", false }, Case { "window_2.json", true } }) {
        SCOPED_TRACE(c.fixture);
        const auto rewrite = [&](const QJsonObject& file) {
            Preset p;
            if (c.window) {
                readWindowFile(p, file);
                return writeWindowFile(p, file);
            }
            p.readPresetFile(file);
            return p.writePresetFile();
        };
        const QJsonObject original = fixture(c.fixture);
        const QJsonObject first = rewrite(original);
        EXPECT_EQ(first, original);

        const QString path1 = home.savePath() + "/first.json";
        const QString path2 = home.savePath() + "/second.json";
        ASSERT_TRUE(JsonFile::save(path1, first));
        ASSERT_TRUE(JsonFile::save(path2, rewrite(JsonFile::load(path1))));
        EXPECT_EQ(bytes(path1), bytes(path2));
        EXPECT_FALSE(bytes(path1).isEmpty());
    }
}

TEST(PresetFiles, OnlyTheWindowFormCarriesWindowMembers)
{
    Preset p;
    readWindowFile(p, fixture("window_2.json"));
    const QJsonObject common = p.writePreset("none");
    for (const char* mode : { "win_load", "Win_Save", "" }) // every other mode, letter case included
        EXPECT_EQ(p.writePreset(mode), common) << mode;
    for (const char* key : kWindowOnly)
        EXPECT_FALSE(videos(common).contains(key)) << key;
    EXPECT_FALSE(position(common, 2).contains("pvw_state"));
    EXPECT_TRUE(position(p.writePreset("win_save"), 2).value("pvw_state").toBool());

    // A common form read as a window keeps the window's own members and
    // leaves the tally flags of the new positions clear.
    const QJsonObject before = videos(p.writePreset("win_save"));
    p.readPresetFile(fixture("preset_1.json"));
    const QJsonObject common2 = p.writePreset("none");
    p.readPreset(common2, "win_save");
    const QJsonObject after = p.writePreset("win_save");
    for (const char* key : kWindowOnly)
        EXPECT_EQ(videos(after).value(key), before.value(key)) << key;
    for (const QJsonValue& pos : videos(after).value("position").toArray()) {
        EXPECT_FALSE(pos.toObject().value("pvw_state").toBool());
        EXPECT_FALSE(pos.toObject().value("pgm_state").toBool());
    }
    // The mode is compared exactly: a differently cased one reads the common form only.
    Preset q;
    q.readPreset(windowPreset(fixture("window_2.json")), "WIN_SAVE");
    EXPECT_EQ(videos(q.writePreset("win_save")).value("num_min"), 0);
}

TEST(PresetFiles, ReadingStopsAtTheFirstMissingKeyKeepingWhatCameBefore)
{
    const QJsonObject file = fixture("preset_1.json");
    const QJsonArray given = videos(file).value("position").toArray();
    QJsonObject noName = given.at(1).toObject();
    noName.remove("stream_name");

    struct Case {
        const char* what;
        QJsonObject form;
        std::function<void(const QJsonObject& written)> check;
    };
    const Case cases[] = {
        { "screen without isFull", edited(file, { "screen" }, [](QJsonObject& o) { o.remove("isFull"); }),
            [](const QJsonObject& w) {
                EXPECT_TRUE(videos(w).value("position").toArray().isEmpty());
                EXPECT_EQ(videos(w).value("layout_name"), "Studio A");
                EXPECT_EQ(w.value("live").toObject().value("select"), "ndi");
                EXPECT_EQ(w.value("screen").toObject().value("select"), 0); // not reached
            } },
        { "second position without stream_name",
            edited(file, { "videos" },
                [&](QJsonObject& o) {
                    o.insert("position", QJsonArray { given.at(0), noName, given.at(2) });
                    o.insert("num_min", 1);
                }),
            [](const QJsonObject& w) {
                const QJsonArray read = videos(w).value("position").toArray();
                ASSERT_EQ(read.size(), 1);
                EXPECT_EQ(read.at(0).toObject().value("id"), 1);
                EXPECT_EQ(videos(w).value("num_min"), 5); // the window members were not reached
            } },
        { "border without color", edited(file, { "globalState", "border" }, [](QJsonObject& o) { o.remove("color"); }),
            [](const QJsonObject& w) {
                const QJsonObject global = w.value("globalState").toObject();
                EXPECT_TRUE(global.value("center_cross").toBool()); // read before the border
                EXPECT_FALSE(global.value("border").toObject().value("enable").toBool());
                EXPECT_EQ(global.value("font").toObject().value("size"), 18);
                EXPECT_TRUE(videos(w).value("position").toArray().isEmpty());
                EXPECT_EQ(videos(w).value("layout_id"), "4");
            } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Preset p;
        readWindowFile(p, fixture("window_2.json"));
        p.readPreset(c.form, "win_save");
        c.check(p.writePreset("win_save"));
    }
}

TEST(PresetFiles, PositionValuesAreReadLeniently)
{
    const QJsonObject file = fixture("preset_1.json");
    QJsonObject first = position(file, 0);
    first.remove("angle");
    QJsonObject later = position(file, 2);
    later.insert("id", 1); // the same id again: the later element wins
    later.insert("frameRate", "25");

    Preset p;
    p.readPresetFile(withPositions(file, { first, later }));
    const QJsonObject written = p.writePreset("none");
    ASSERT_EQ(videos(written).value("position").toArray().size(), 1);
    EXPECT_EQ(position(written, 0).value("stream_id"), "CAM-B (cam2)");
    EXPECT_EQ(position(written, 0).value("frameRate"), 25.0); // a number written as text
    EXPECT_EQ(position(written, 0).value("angle"), 90); // restored by the file's angle list

    struct Rate {
        QJsonValue stored;
        double read;
    };
    for (const Rate& r : { Rate { true, 1 }, Rate { "abc", 0 }, Rate { QJsonValue(), 0 }, Rate { 29.5, 29.5 } }) {
        QJsonObject pos = first;
        pos.insert("frameRate", r.stored);
        p.readPreset(withPositions(file, { pos }), "none");
        EXPECT_EQ(position(p.writePreset("none"), 0).value("frameRate").toDouble(), r.read);
    }
}

TEST(PresetFiles, UsedListIsAListOfWindowIds)
{
    Preset fresh;
    const QJsonObject empty = fresh.writePreset("none");
    EXPECT_EQ(videos(empty).value("layout_used"), "");
    EXPECT_EQ(videos(empty).value("position"), QJsonArray());

    // An empty stored list reads back as one empty id.
    Preset p;
    p.readPreset(empty, "none");
    p.setUsedState("3", true);
    EXPECT_EQ(videos(p.writePreset("none")).value("layout_used"), ",3");
    EXPECT_TRUE(p.getLayoutJson().value("used").toBool());

    Preset q;
    q.setUsedState("3", true);
    q.setUsedState("3", true);
    q.setUsedState("3", false);
    EXPECT_EQ(videos(q.writePreset("none")).value("layout_used"), "3");
    EXPECT_TRUE(q.getLayoutJson().value("used").toBool());
    q.setUsedState("3", false);
    q.setUsedState("9", false);
    EXPECT_FALSE(q.getLayoutJson().value("used").toBool());
}

TEST(PresetFiles, LoadTakesOverAnotherPresetAndClearsTheMark)
{
    auto stored = QSharedPointer<Preset>::create();
    stored->readPresetFile(fixture("preset_1.json"));

    Preset window;
    readWindowFile(window, fixture("window_2.json"));
    window.setsource("OTHER", "1", 3);
    ASSERT_TRUE(window.getModified());

    window.load(stored, "win_load");
    EXPECT_FALSE(window.getModified());
    EXPECT_EQ(window.writePreset("none"), stored->writePreset("none"));
    EXPECT_EQ(window.writeAngles(), stored->writeAngles());
    EXPECT_EQ(videos(window.writePreset("win_save")).value("num_min"), 5); // window members stay

    window.setModified(true);
    window.load(nullptr, "win_load");
    EXPECT_TRUE(window.getModified());

    // Angles of unknown positions are ignored; none is created.
    window.readAngles({ QJsonObject { { "id", 9 }, { "angle", 90 } }, QJsonObject { { "id", 3 }, { "angle", 45 } } });
    EXPECT_EQ(window.writeAngles(),
        (QJsonArray { QJsonObject { { "id", 1 }, { "angle", 90 } }, QJsonObject { { "id", 2 }, { "angle", 0 } },
            QJsonObject { { "id", 3 }, { "angle", 45 } } }));
}
