// A program: its record, its folder of preset and window files, the change
// slots that keep the folder in step, its windows and mixers at start, and
// the replies the push messages carry.
#include "model/ProjectObject.h"

#include "TestSupport.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "model/MyTimer.h"
#include "model/WindowObject.h"
#include "output/AudioOutputMixer.h"
#include "render/WindowMultiThreaded.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>

namespace {

QJsonObject fixture(const char* name)
{
    return JsonFile::load(QString(PANOPTRA_TEST_DATA_DIR "/model/") + name);
}

// A stored example with other members in one of its sections.
QJsonObject fixtureWith(const char* name, const char* section, const QJsonObject& members)
{
    QJsonObject file = fixture(name);
    QJsonObject part = file.value(section).toObject();
    for (auto it = members.begin(); it != members.end(); ++it)
        part.insert(it.key(), it.value());
    file.insert(section, part);
    return file;
}

QJsonObject presetFile(const QString& layout_id, const QString& name)
{
    return fixtureWith("preset_1.json", "videos", { { "layout_id", layout_id }, { "layout_name", name } });
}

QJsonObject windowFile(const QString& win_id, const QString& name)
{
    return fixtureWith("window_2.json", "data", { { "win_id", win_id }, { "name", name } });
}

QJsonObject record(const ProjectObject& program)
{
    QJsonObject r;
    program.write(r);
    return r;
}

QStringList windowIds(const ProjectObject& program)
{
    QStringList ids;
    for (const char* id : { "1", "2", "3", "10", "pgm", "pvw" })
        if (program.getWindow(id))
            ids << id;
    return ids;
}

// A program whose windows can be made: mixers exist, the folder is in the temp home.
struct Program {
    Program(const QString& id = "1")
    {
        program.setPath(g_savePath + "/programs/program_" + id);
        program.setParams(id, "Show", 1920, 1080, 25.0);
        program.createAudioMixers();
    }
    QString path() const { return program.getPath(); }
    ProjectObject program;
};

TEST(ProjectObject, RecordDefaultsRoundTripAndPartialRecords)
{
    ProjectObject fresh;
    EXPECT_EQ(record(fresh),
        QJsonObject({ { "pro_id", "" }, { "name", "" }, { "status", false }, { "frameRate", 0 }, { "width", 1280 },
            { "height", 720 }, { "index", 1 }, { "aspect", 0 }, { "take_time", 0 }, { "take_select", 1 } }));

    const QJsonObject full { { "pro_id", "12" }, { "name", "Evening" }, { "status", true }, { "frameRate", 50 },
        { "width", 3840 }, { "height", 2160 }, { "index", 2 }, { "aspect", 1.5 }, { "take_time", 3 },
        { "take_select", 4 } };
    ProjectObject copy;
    EXPECT_TRUE(copy.read(full));
    EXPECT_EQ(record(copy), full);

    // A record that lost members keeps its id and every stored value; only
    // the missing members keep their defaults.
    for (const char* missing : { "take_select", "name", "status", "frameRate" }) {
        QJsonObject partial = full;
        partial.remove(missing);
        ProjectObject program;
        EXPECT_FALSE(program.read(partial)) << missing;
        QJsonObject expected = full;
        expected.insert(missing, record(fresh).value(missing));
        EXPECT_EQ(record(program), expected) << missing;
    }
}

TEST(ProjectObject, LoadReadsThePresetAndWindowFilesOfItsFolder)
{
    testsupport::TempHome home;
    const QString folder = g_savePath + "/programs/program_1";
    for (const auto& [file, name] :
        std::vector<std::pair<QString, QString>> { { "preset_3.json", "Three" }, { "preset_10.json", "Ten" },
            { "preset_a_7.json", "Seven" }, { "presetX.json", "Not listed" }, { "preset_x.json", "" } })
        ASSERT_TRUE(JsonFile::save(folder + "/presets/" + file, presetFile("0", name)));
    ASSERT_TRUE(testsupport::writeFile(folder + "/presets/preset_5.json", "{ not json"));
    QDir().mkpath(folder + "/presets/preset_8.json"); // a folder, not a file
    ASSERT_TRUE(JsonFile::save(folder + "/windows/window_pvw.json", windowFile("pvw", "PVW")));
    ASSERT_TRUE(JsonFile::save(folder + "/windows/window_2.json", windowFile("2", "Gallery")));

    ProjectObject program;
    program.setPath(folder);
    EXPECT_TRUE(program.load());

    for (const char* id : { "3", "10", "7", "x", "5" })
        EXPECT_TRUE(program.getPreset(id)) << id;
    EXPECT_FALSE(program.getPreset("8"));
    EXPECT_FALSE(program.getPreset("X"));
    EXPECT_EQ(program.getPreset("10")->getLayoutName(), "Ten");
    EXPECT_EQ(program.getPreset("5")->getLayoutName(), "") << "unparsable text still makes a preset";
    EXPECT_EQ(program.getLastPresetId(), 10);

    EXPECT_EQ(windowIds(program), QStringList({ "2", "pvw" }));
    EXPECT_EQ(program.getLastWinId(), 2);
    EXPECT_EQ(program.getWindow("2")->getWinName(), "Gallery");
    EXPECT_EQ(program.getWindow("2")->writeAngles(), windowFile("2", "").value("angles").toArray());
    EXPECT_EQ(program.getLayoutList().value("data").toArray().size(), 5);

    // A missing folder loads nothing and fails nothing.
    ProjectObject empty;
    empty.setPath(g_savePath + "/programs/program_9");
    EXPECT_TRUE(empty.load());
    EXPECT_TRUE(windowIds(empty).isEmpty());
}

TEST(ProjectObject, SaveAndTheChangeSlotsKeepTheFolderInStep)
{
    testsupport::TempHome home;
    const QString source = g_savePath + "/programs/program_1";
    ASSERT_TRUE(JsonFile::save(source + "/presets/preset_4.json", presetFile("4", "Four")));
    ASSERT_TRUE(JsonFile::save(source + "/presets/preset_6.json", presetFile("6", "Six")));
    for (const char* id : { "pvw", "pgm", "2" })
        ASSERT_TRUE(JsonFile::save(source + "/windows/window_" + QString(id) + ".json", windowFile(id, id)));
    ProjectObject program;
    program.setPath(source);
    program.load();

    // Saved into a fresh folder: every file comes back as it was read.
    const QString target = g_savePath + "/programs/program_5";
    program.setPath(target);
    EXPECT_FALSE(program.saveWindow("9"));
    EXPECT_FALSE(program.savePreset("9"));
    EXPECT_FALSE(QDir(target).exists()) << "a refused save makes no folder";
    EXPECT_TRUE(program.save());
    for (const char* id : { "pvw", "pgm", "2" }) {
        QJsonObject expected;
        program.getWindow(id)->write(expected);
        expected.insert("angles", program.getWindow(id)->writeAngles());
        EXPECT_EQ(JsonFile::load(target + QString("/windows/window_%1.json").arg(id)), expected) << id;
    }
    EXPECT_EQ(JsonFile::load(target + "/presets/preset_4.json"), program.getPreset("4")->writePresetFile());

    const auto exists = [&](const QString& name) { return QFile::exists(target + name); };
    const auto clear = [&] { QDir(target).removeRecursively(); };

    struct Case {
        const char* what;
        std::function<void()> change;
        QStringList written;
    };
    const std::vector<Case> cases {
        { "window added", [&] { program.onWindowChanged(WINDOW_ADD, "2"); }, { "/windows/window_2.json" } },
        { "window changed", [&] { program.onWindowChanged(WINDOW_SET_PARAM, "pgm"); }, { "/windows/window_pgm.json" } },
        { "preset added", [&] { program.onPresetChanged(PRESET_ADD, "4"); }, { "/presets/preset_4.json" } },
        { "preset renamed", [&] { program.onPresetChanged(PRESET_RENAME, "4"); }, { "/presets/preset_4.json" } },
        { "bus windows", [&] { program.onGridChanged(GRID_BUS_WINDOWS, ""); },
            { "/windows/window_pvw.json", "/windows/window_pgm.json" } },
        { "layout resaved", [&] { program.onGridChanged(GRID_RESAVE_LAYOUT, "2", "4"); },
            { "/presets/preset_4.json", "/windows/window_2.json" } },
        // Window 2 shows layout "4" (its stored layout id).
        { "layout saved", [&] { program.onGridChanged(GRID_SAVE_LAYOUT, "2", "4"); },
            { "/presets/preset_4.json", "/windows/window_2.json" } },
        { "layout saved, no window", [&] { program.onGridChanged(GRID_SAVE_LAYOUT, "9", ""); }, {} },
        { "other grid change", [&] { program.onGridChanged(GRID_SET_OUTPUT_TYPE, "pvw"); },
            { "/windows/window_pvw.json" } },
    };
    for (const Case& c : cases) {
        clear();
        c.change();
        QStringList written;
        for (const QString dir : { "/windows", "/presets" })
            for (const QString& f : QDir(target + dir).entryList(QDir::Files))
                written << dir + "/" + f;
        QStringList expected = c.written;
        written.sort();
        expected.sort();
        EXPECT_EQ(written, expected) << c.what;
    }

    // Removals delete the file only once the window or preset has left the
    // program, and only for ids of their kind.
    program.save();
    program.onWindowChanged(WINDOW_REMOVE, "2");
    EXPECT_TRUE(exists("/windows/window_2.json")) << "window 2 is still open";
    program.onPresetChanged(PRESET_REMOVE, "4");
    EXPECT_TRUE(exists("/presets/preset_4.json")) << "preset 4 still exists";
    ASSERT_TRUE(testsupport::writeFile(target + "/windows/window_7.json", "{}"));
    ASSERT_TRUE(testsupport::writeFile(target + "/presets/preset_8.json", "{}"));
    ASSERT_TRUE(testsupport::writeFile(target + "/windows/window_..json", "{}"));
    program.onWindowChanged(WINDOW_REMOVE, "7");
    program.onPresetChanged(PRESET_REMOVE, "8");
    program.onWindowChanged(WINDOW_REMOVE, ".");
    EXPECT_FALSE(exists("/windows/window_7.json"));
    EXPECT_FALSE(exists("/presets/preset_8.json"));
    EXPECT_TRUE(exists("/windows/window_..json"));
    program.onWindowChanged(WINDOW_REMOVE, "7"); // already gone: nothing
}

TEST(ProjectObject, NewProgramGetsItsBusWindowsAndAMainWindow)
{
    testsupport::TempHome home;
    Program p;
    ProjectObject& program = p.program;
    program.setAspect(3, 1.25);
    program.createWindows();

    EXPECT_EQ(windowIds(program), QStringList({ "1", "pgm", "pvw" }));
    EXPECT_EQ(program.getCurrentWinId(), "1");
    EXPECT_EQ(program.getLastWinId(), 1);
    EXPECT_EQ(program.getFirstWinId(), "1");

    const auto main = program.getWindow("1");
    EXPECT_EQ(main->getWinName(), "Main");
    int index = 0;
    double aspect = 0;
    main->getAspect(index, aspect);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(aspect, 1.25);
    EXPECT_TRUE(main->getLayoutJson().value("position").toArray().isEmpty());

    for (const char* bus : { "pvw", "pgm" }) {
        const auto window = program.getWindow(bus);
        EXPECT_EQ(window->getWinName(), QString(bus).toUpper());
        const QJsonObject layout = window->getLayoutJson();
        EXPECT_EQ(layout.value("layout_count").toInt(), 1) << bus;
        const QJsonObject only = layout.value("position").toArray().at(0).toObject();
        EXPECT_EQ(layout.value("position").toArray().size(), 1) << bus;
        EXPECT_EQ(only.value("width").toDouble(), 100.0) << bus;
        EXPECT_EQ(only.value("height").toDouble(), 100.0) << bus;
    }
    for (const QString& id : windowIds(program)) {
        const auto window = program.getWindow(id);
        EXPECT_FALSE(window->isStarted()) << qPrintable(id);
        EXPECT_TRUE(window->getRenderer()) << qPrintable(id);
        EXPECT_EQ(window->getTickTimer()->frameRate(), 25.0) << qPrintable(id);
        double w = 0, h = 0;
        window->getSize(w, h);
        EXPECT_EQ(w, 1920) << qPrintable(id);
    }

    // A running program starts every window it makes.
    ProjectObject running;
    running.read(QJsonObject { { "pro_id", "2" }, { "status", true } });
    running.createAudioMixers();
    running.createWindows();
    for (const QString& id : windowIds(running))
        EXPECT_TRUE(running.getWindow(id)->isStarted()) << qPrintable(id);
}

TEST(ProjectObject, StoredWindowsAreWiredAsTheyAre)
{
    testsupport::TempHome home;
    Program p;
    ProjectObject& program = p.program;
    QJsonObject pvwFile = windowFile("pvw", "PVW");
    ASSERT_TRUE(JsonFile::save(p.path() + "/windows/window_pvw.json", pvwFile));
    ASSERT_TRUE(JsonFile::save(p.path() + "/windows/window_3.json", windowFile("3", "Side")));
    program.load();

    const auto pvwMixer = program.getPvwMixer();
    const auto pgmMixer = program.getPgmMixer();
    QSignalSpy pvwSource(pvwMixer.get(), &AudioOutputMixer::videoSourceChanged);
    QSignalSpy pgmSource(pgmMixer.get(), &AudioOutputMixer::videoSourceChanged);
    program.createWindows();

    EXPECT_EQ(windowIds(program), QStringList({ "3", "pvw" })) << "no program window is made for a stored program";
    EXPECT_TRUE(program.getWindow("3")->getRenderer());
    EXPECT_TRUE(program.getWindow("pvw")->getRenderer());
    EXPECT_FALSE(program.getWindow("3")->isStarted());
    // Only the preview window feeds its mixer: the source on its position 1, with where it came from.
    ASSERT_EQ(pvwSource.count(), 1);
    EXPECT_EQ(pvwSource.at(0).at(0).toString(), program.getWindow("pvw")->getSource(1));
    EXPECT_FALSE(pvwSource.at(0).at(0).toString().isEmpty());
    EXPECT_EQ(pvwSource.at(0).at(1).toString(), "pvw");
    EXPECT_EQ(pvwSource.at(0).at(2).toInt(), 1);
    EXPECT_EQ(pgmSource.count(), 0);

    // Mixers are made once; the program id and opening are applied again.
    program.createAudioMixers();
    EXPECT_EQ(program.getPvwMixer(), pvwMixer);
    EXPECT_EQ(program.getPgmMixer(), pgmMixer);
    EXPECT_EQ(pvwMixer->proId(), "1");
    EXPECT_TRUE(pgmMixer->isOpen());

    EXPECT_EQ(program.getWinLayoutId("3"), "") << "layout 4 is no preset of this program";
    EXPECT_EQ(program.getWinLayoutId("9"), "");
    EXPECT_EQ(program.getLayoutParams("3"), QJsonObject({ { "result", "error" } })) << "no pgm window";
}

TEST(ProjectObject, WindowListsAndRepliesForMissingWindows)
{
    testsupport::TempHome home;
    Program p;
    ProjectObject& program = p.program;
    program.createWindows();
    for (const char* name : { "Ten", "Two", "Nine" })
        ASSERT_TRUE(program.setWindow(
            { { "win_id", "" }, { "name", name }, { "frameRate", 30 },
                { "resolution",
                    QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.5 } } } },
            QString()));
    // Windows 2, 3 and 4 now exist beside 1; their list is in numeric order without the bus windows.
    const QJsonArray list = program.getWindowList().value("data").toArray();
    QStringList order;
    for (const QJsonValue& v : list)
        order << v.toObject().value("id").toString();
    EXPECT_EQ(order, QStringList({ "1", "2", "3", "4" }));
    EXPECT_EQ(list.at(1).toObject(),
        QJsonObject({ { "id", "2" }, { "name", "Ten" }, { "layout_id", "" }, { "modified", false },
            { "resolution", QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.5 } } },
            { "frameRate", 30 }, { "number_used", false },
            { "number_range", QJsonObject { { "min", 0 }, { "max", 0 } } } }));

    const QJsonObject error { { "result", "error" } };
    EXPECT_EQ(program.getOutputType("9"), error);
    EXPECT_EQ(program.getControlState("9"), error);
    EXPECT_EQ(program.getWinPosition("9"), error);
    EXPECT_EQ(program.getLayoutParams("9"), error);
    EXPECT_EQ(program.getWinPosition("2"),
        QJsonObject({ { "result", "ok" }, { "data", QJsonObject { { "select", 0 }, { "isFull", false } } } }));

    struct Order {
        const char *a, *b;
        bool less;
    };
    for (const Order& o : std::vector<Order> { { "9", "10", true }, { "pvw", "1", true }, { "2", "2", false },
             { "10", "9", false }, { "pvw", "pgm", false } })
        EXPECT_EQ(compareData(o.a, o.b), o.less) << o.a << " < " << o.b;

    ProjectObject none;
    EXPECT_EQ(none.getFirstWinId(), "");
}

TEST(ProjectObject, AddingChangingAndClosingWindows)
{
    testsupport::TempHome home;
    Program p;
    ProjectObject& program = p.program;
    program.createWindows(); // "pvw", "pgm" and "1"
    const auto request = [](const QString& id, const QString& name, bool numbered, int min, int max) {
        return QJsonObject { { "win_id", id }, { "name", name }, { "frameRate", 50 },
            { "resolution", QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.5 } } },
            { "number_used", numbered }, { "number_range", QJsonObject { { "min", min }, { "max", max } } } };
    };
    ASSERT_TRUE(program.setWindow(request("", "Numbered", true, 1, 10), QString()));
    const auto numbered = program.getWindow("2");
    ASSERT_TRUE(numbered);
    EXPECT_FALSE(numbered->isStarted()) << "the program is not running";
    EXPECT_EQ(numbered->getTickTimer()->frameRate(), 50.0);

    struct Range {
        int min, max;
        bool ok;
    };
    for (const Range& r :
        std::vector<Range> { { 5, 8, false }, { 10, 12, false }, { 11, 20, true }, { 8, 4, false }, { 0, 4, false } })
        EXPECT_EQ(program.checkIsDuplicateRange("", r.min, r.max), r.ok) << r.min << ".." << r.max;
    EXPECT_TRUE(program.checkIsDuplicateRange("2", 5, 8)) << "a window's own range never blocks it";

    // A rejected new window still uses up its number.
    EXPECT_FALSE(program.setWindow(request("", "Numbered", false, 0, 0), QString()));
    ASSERT_TRUE(program.setWindow(request("", "Third", false, 0, 0), QString()));
    EXPECT_TRUE(program.getWindow("4"));
    EXPECT_FALSE(program.getWindow("3"));

    // Changing a window of a stopped program leaves it stopped.
    ASSERT_TRUE(program.setWindow(request("4", "Third", false, 0, 0), QString()));
    EXPECT_FALSE(program.getWindow("4")->isStarted());
    EXPECT_FALSE(program.setWindow(request("9", "Nobody", false, 0, 0), QString()));

    EXPECT_FALSE(program.onProcessClose({ { "win_id", "4" } })) << "needs a session";
    ASSERT_TRUE(program.onProcessClose({ { "win_id", "2" }, { "session_id", "" } }));
    EXPECT_FALSE(program.getWindow("2"));
    EXPECT_TRUE(numbered->getRenderer().isNull());
    EXPECT_EQ(program.getCurrentWinId(), "1");
    EXPECT_FALSE(program.onProcessClose({ { "win_id", "2" }, { "session_id", "" } }));
}

} // namespace
