// The controller's program list: "programs.json" and the program folders,
// loading at start (with the removal of stray folders), adding and removing
// programs and windows, program ids, and shutdown. Each test makes its own
// controller on a temporary HOME; a "restart" is a new controller loading the
// same folder.
#include "app/BaseConfig.h"

#include "TestSupport.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "media/GlobalData.h"
#include "model/MyTimer.h"
#include "model/ProjectObject.h"
#include "model/WindowObject.h"
#include "output/AudioOutputMixer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>

#include <optional>

namespace {

QString listPath()
{
    return g_savePath + "/programs.json";
}

QString folderOf(const QString& pro_id)
{
    return g_savePath + "/programs/program_" + pro_id;
}

QJsonObject programBody(const QString& name, double fps = 50)
{
    return { { "name", name }, { "frameRate", fps },
        { "resolution", QJsonObject { { "width", 1920 }, { "height", 1080 }, { "index", 1 }, { "aspect", 1.5 } } } };
}

// Adds a program the way the request layer does: the add, then the save.
QString addAndSave(BaseConfig& controller, const QString& name)
{
    if (!controller.addProgram(programBody(name), QString()))
        return QString();
    QString pro_id = QString::number(controller.getLastProId());
    controller.onProgramChanged(PROGRAM_ADD, pro_id);
    controller.waitForSaves();
    return pro_id;
}

QJsonObject record(const QString& pro_id, const QString& name)
{
    return { { "pro_id", pro_id }, { "name", name }, { "status", false }, { "frameRate", 25 }, { "width", 1280 },
        { "height", 720 }, { "index", 1 }, { "aspect", 1.5 }, { "take_time", 0 }, { "take_select", 1 } };
}

void writeList(const QJsonArray& records)
{
    ASSERT_TRUE(JsonFile::save(listPath(), QJsonObject { { "data", records } }));
}

// A program folder with one window file, as a saved program leaves it.
void makeFolder(const QString& id)
{
    WindowObject window;
    window.setWinParams(id, "P" + id, "1", "Main", 1280, 720, 25);
    QJsonObject file;
    window.write(file);
    ASSERT_TRUE(JsonFile::save(folderOf(id) + "/windows/window_1.json", file));
}

QStringList folders()
{
    QStringList names = QDir(g_savePath + "/programs").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QStringList listedIds()
{
    QStringList ids;
    for (const QJsonValue& v : JsonFile::load(listPath()).value("data").toArray())
        ids << v.toObject().value("pro_id").toString();
    return ids;
}

QStringList asideFiles()
{
    return QDir(g_savePath).entryList({ "programs.json.bad-*" }, QDir::Files);
}

// Every file under the settings folder with its content.
QMap<QString, QByteArray> snapshot()
{
    QMap<QString, QByteArray> files;
    QDirIterator it(g_savePath, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        file.open(QIODevice::ReadOnly);
        files.insert(it.filePath(), file.readAll());
    }
    return files;
}

TEST(ProgramList, AddedProgramIsStoredAndComesBackAfterARestart)
{
    testsupport::TempHome home;
    {
        BaseConfig controller;
        controller.load();
        ASSERT_TRUE(controller.addProgram(programBody("Evening"), QString()));
        // Nothing is written until the save that the request layer queues after the add.
        EXPECT_FALSE(QFile::exists(listPath()));
        EXPECT_FALSE(QDir(folderOf("1")).exists());
        controller.onProgramChanged(PROGRAM_ADD, "1");
        controller.waitForSaves();

        const QJsonObject list = JsonFile::load(listPath());
        EXPECT_EQ(list,
            QJsonObject({ { "data",
                QJsonArray { QJsonObject { { "pro_id", "1" }, { "name", "Evening" }, { "status", false },
                    { "frameRate", 50 }, { "width", 1920 }, { "height", 1080 }, { "index", 1 }, { "aspect", 1.5 },
                    { "take_time", 0 }, { "take_select", 1 } } } } }));
        EXPECT_EQ(QDir(folderOf("1") + "/windows").entryList(QDir::Files),
            QStringList({ "window_1.json", "window_pgm.json", "window_pvw.json" }));
        EXPECT_FALSE(QDir(folderOf("1") + "/presets").exists());
        const QJsonObject main = JsonFile::load(folderOf("1") + "/windows/window_1.json").value("data").toObject();
        EXPECT_EQ(main.value("name").toString(), "Main");
        EXPECT_EQ(main.value("pro_name").toString(), "Evening");
        EXPECT_EQ(main.value("frameRate").toDouble(), 50.0);
        controller.destroy();
    }

    BaseConfig restarted;
    restarted.load();
    EXPECT_EQ(restarted.programIds(), QStringList({ "1" }));
    EXPECT_EQ(restarted.getLastProId(), 1);
    QSharedPointer<ProjectObject> program = restarted.getProgram("1");
    ASSERT_TRUE(program);
    EXPECT_EQ(program->getName(), "Evening");
    EXPECT_EQ(program->getPath(), folderOf("1"));
    restarted.openWindows();
    for (const char* id : { "1", "pgm", "pvw" }) {
        ASSERT_TRUE(program->getWindow(id)) << id;
        EXPECT_TRUE(program->getWindow(id)->getRenderer()) << id;
        EXPECT_EQ(program->getWindow(id)->getTickTimer()->frameRate(), 50.0) << id;
    }
    EXPECT_FALSE(program->getWindow("2")) << "a stored program gets no new window";
    EXPECT_EQ(addAndSave(restarted, "Late"), "2");
    EXPECT_EQ(listedIds(), QStringList({ "1", "2" }));
    restarted.destroy();
}

TEST(ProgramList, StrayFoldersGoOnlyAfterAGoodList)
{
    struct Case {
        const char* what;
        std::optional<QByteArray> list; // none: no file
        QStringList loaded;
        QStringList remaining;
        int lastProId;
        bool movedAside;
    };
    const QByteArray good
        = QJsonDocument(QJsonObject { { "data", QJsonArray { record("1", "One"), record("3", "Three") } } }).toJson();
    const QStringList all { "program_0", "program_1", "program_2", "program_3", "program_pvw", "program_x" };
    const QStringList kept { "program_0", "program_1", "program_3", "program_x" };
    const std::vector<Case> cases {
        { "good list", good, { "1", "3" }, kept, 3, false },
        { "no list", std::nullopt, {}, { "program_0", "program_x" }, 0, false },
        { "not JSON", QByteArray("this is no list"), {}, all, 3, true },
        { "truncated", good.left(good.size() / 2), {}, all, 3, true },
        { "empty file", QByteArray(), {}, all, 3, true },
        { "no data array", QByteArray(R"({"programs": []})"), {}, all, 3, true },
        { "data not an array", QByteArray(R"({"data": {"pro_id": "1"}})"), {}, all, 3, true },
        { "top level array", QByteArray("[]"), {}, all, 3, true },
    };
    for (const Case& c : cases) {
        testsupport::TempHome home;
        for (const char* id : { "0", "1", "2", "3", "pvw", "x" })
            makeFolder(id);
        if (c.list) {
            ASSERT_TRUE(testsupport::writeFile(listPath(), *c.list));
        }

        BaseConfig controller;
        controller.load();
        EXPECT_EQ(controller.programIds(), c.loaded) << c.what;
        EXPECT_EQ(folders(), c.remaining) << c.what;
        EXPECT_EQ(controller.getLastProId(), c.lastProId) << c.what;
        EXPECT_EQ(asideFiles().size(), c.movedAside ? 1 : 0) << c.what;
        if (c.movedAside) {
            EXPECT_FALSE(QFile::exists(listPath())) << c.what;
            QFile aside(g_savePath + "/" + asideFiles().value(0));
            ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
            EXPECT_EQ(aside.readAll(), *c.list) << c.what << ": the unreadable list is kept as it was";
        }
        for (const QString& id : c.loaded)
            EXPECT_TRUE(controller.getProgram(id)->getWindow("1")) << c.what << ": windows of " << qPrintable(id);

        // A new program never lands on a folder that is still there.
        EXPECT_EQ(addAndSave(controller, "New"), QString::number(c.lastProId + 1)) << c.what;
        EXPECT_EQ(listedIds(), c.loaded + QStringList { QString::number(c.lastProId + 1) }) << c.what;
    }
}

TEST(ProgramList, RecordsKeepTheirValuesAndBadIdsAreSkipped)
{
    testsupport::TempHome home;
    QJsonObject partial = record("1", "Kept");
    partial.remove("take_select");
    partial.remove("width");
    partial.insert("frameRate", 60);
    writeList({ partial, QJsonObject { { "pro_id", "/../../2" }, { "name", "Up" } },
        QJsonObject { { "pro_id", "" }, { "name", "Empty" } }, QJsonObject { { "pro_id", 5 }, { "name", "Number" } },
        QJsonObject { { "pro_id", "1a" }, { "name", "Mixed" } }, QJsonObject { { "name", "No id" } },
        record("1", "Repeated") });
    makeFolder("1");
    // What the skipped ids would name as folders.
    QDir().mkpath(g_savePath + "/programs/program_..");
    QDir().mkpath(g_savePath + "/programs/program_");
    QDir().mkpath(g_savePath + "/2");
    makeFolder("1a");

    BaseConfig controller;
    controller.load();
    EXPECT_EQ(controller.programIds(), QStringList({ "1" }));
    EXPECT_TRUE(QDir(g_savePath + "/2").exists());
    EXPECT_TRUE(QDir(folderOf("1a")).exists());
    EXPECT_TRUE(QDir(folderOf("..")).exists());

    // The next save keeps the id and every stored value; only the missing
    // members take their defaults.
    controller.saveProgramList();
    QJsonObject expected = partial;
    expected.insert("take_select", 1);
    expected.insert("width", 1280);
    EXPECT_EQ(JsonFile::load(listPath()), QJsonObject({ { "data", QJsonArray { expected } } }));

    // A removal never reaches a folder through an id that is no program id,
    // nor the folder of a program that still exists.
    controller.onProgramChanged(PROGRAM_REMOVE, "../..");
    controller.onProgramChanged(PROGRAM_REMOVE, "1");
    controller.waitForSaves();
    EXPECT_TRUE(QDir(g_savePath + "/programs").exists());
    EXPECT_TRUE(QDir(folderOf("1")).exists());
    EXPECT_EQ(listedIds(), QStringList({ "1" }));
}

TEST(ProgramList, ProgramIdsAreNeverReused)
{
    testsupport::TempHome home;
    // Program 5 is listed without a folder; it still holds its id.
    writeList({ record("5", "Listed") });
    BaseConfig controller;
    controller.load();
    EXPECT_EQ(controller.getLastProId(), 5);

    // A folder that appeared meanwhile is skipped too.
    makeFolder("6");
    EXPECT_EQ(addAndSave(controller, "A"), "7");

    // Failed adds: a missing member takes no id; a taken name or an
    // incomplete resolution uses one up (and the name stays taken).
    EXPECT_FALSE(controller.addProgram({ { "name", "B" }, { "frameRate", 25 } }, QString()));
    EXPECT_FALSE(controller.addProgram({ { "name", 7 }, { "frameRate", 25 }, { "resolution", 1 } }, QString()));
    EXPECT_EQ(controller.getLastProId(), 7);
    EXPECT_FALSE(controller.addProgram(programBody("A"), QString()));
    EXPECT_EQ(controller.getLastProId(), 8);
    QJsonObject incomplete = programBody("C");
    incomplete.insert("resolution", QJsonObject { { "width", 1280 } });
    EXPECT_FALSE(controller.addProgram(incomplete, QString()));
    EXPECT_FALSE(controller.addProgram(programBody("C"), QString()));
    EXPECT_EQ(addAndSave(controller, "D"), "11");
    EXPECT_EQ(controller.programIds(), QStringList({ "11", "5", "7" }));

    // A removed program's id is not given out again within the run.
    ASSERT_TRUE(controller.removeProgram("11", QString()));
    controller.onProgramChanged(PROGRAM_REMOVE, "11");
    EXPECT_EQ(addAndSave(controller, "E"), "12");
    controller.destroy();
}

TEST(ProgramList, RemovingProgramsAndWindows)
{
    testsupport::TempHome home;
    BaseConfig controller;
    controller.load();
    const QString first = addAndSave(controller, "First");
    const QString second = addAndSave(controller, "Second");

    EXPECT_FALSE(controller.removeProgram("9", QString()));
    EXPECT_FALSE(controller.addWindow("9", QJsonObject(), QString()));
    EXPECT_FALSE(controller.removeWindow("9", QJsonObject()));

    // A window added through the controller is saved by the program's slot.
    const QJsonObject window { { "win_id", "" }, { "name", "Side" }, { "frameRate", 25 },
        { "resolution", QJsonObject { { "width", 1280 }, { "height", 720 }, { "index", 1 }, { "aspect", 1.5 } } } };
    ASSERT_TRUE(controller.addWindow(first, window, QString()));
    QSharedPointer<ProjectObject> program = controller.getProgram(first);
    program->onWindowChanged(WINDOW_ADD, "2");
    controller.waitForSaves();
    EXPECT_TRUE(QFile::exists(folderOf(first) + "/windows/window_2.json"));
    ASSERT_TRUE(controller.removeWindow(first, { { "win_id", "2" }, { "session_id", "s" } }));
    program->onWindowChanged(WINDOW_REMOVE, "2");
    controller.waitForSaves();
    EXPECT_FALSE(program->getWindow("2"));
    EXPECT_FALSE(QFile::exists(folderOf(first) + "/windows/window_2.json"));

    ASSERT_TRUE(controller.removeProgram(first, QString()));
    EXPECT_FALSE(controller.getProgram(first));
    EXPECT_TRUE(QDir(folderOf(first)).exists()) << "the folder goes with the save that follows";
    controller.onProgramChanged(PROGRAM_REMOVE, first);
    controller.waitForSaves();
    EXPECT_FALSE(QDir(folderOf(first)).exists());
    EXPECT_EQ(listedIds(), QStringList({ second }));
    // The name is free again.
    EXPECT_EQ(addAndSave(controller, "First"), "3");
    controller.destroy();
}

TEST(ProgramList, ShutdownLeavesEveryFileAsItWas)
{
    testsupport::TempHome home;
    BaseConfig controller;
    controller.load();
    addAndSave(controller, "One");
    addAndSave(controller, "Two");
    controller.openWindows();
    const QMap<QString, QByteArray> before = snapshot();
    ASSERT_EQ(before.size(), 7); // the list and three windows for each program

    controller.destroy();
    EXPECT_TRUE(controller.programIds().isEmpty());
    EXPECT_EQ(controller.getUsersManager(), nullptr);
    controller.destroy(); // a repeat finds nothing to do
    EXPECT_EQ(snapshot(), before);

    BaseConfig restarted;
    restarted.load();
    EXPECT_EQ(restarted.programIds(), QStringList({ "1", "2" }));
    EXPECT_EQ(snapshot(), before);
}

TEST(ProgramList, ShutdownEndsTheMixersEvenWhileAProgramIsHeld)
{
    testsupport::TempHome home;
    BaseConfig controller;
    controller.load();
    const QString pro = addAndSave(controller, "One");
    // Something still holds the program and its mixer, which mixes a source.
    QSharedPointer<ProjectObject> held = controller.getProgram(pro);
    const std::shared_ptr<AudioOutputMixer> mixer = held->getPgmMixer();
    GlobalData::instance()->setAudioMixType(pro, "Cam", "always");
    mixer->addInputSource("Cam");
    ASSERT_TRUE(mixer->isOpen());
    ASSERT_TRUE(GlobalData::instance()->getAudioSink(pro, "Cam", "pgm"));

    controller.destroy();
    EXPECT_FALSE(mixer->isOpen());
    EXPECT_FALSE(mixer->isMixed("Cam"));
    EXPECT_FALSE(GlobalData::instance()->getAudioSink(pro, "Cam", "pgm"));
    held.reset();
}

} // namespace

// A stop right after an acknowledged change: the saves it queued run before
// the programs go, though the event loop never came back to them.
TEST(ProgramList, SavesQueuedBeforeTheShutdownAreWritten)
{
    testsupport::TempHome home;
    QString pro_id, layout_id;
    {
        BaseConfig controller;
        controller.load();
        pro_id = addAndSave(controller, "Late");
        const QSharedPointer<ProjectObject> program = controller.getProgram(pro_id);
        ASSERT_TRUE(program);
        QString msg;
        ASSERT_TRUE(program->addLayout({ { "name", "Last" }, { "template_id", "6" } }, msg));
        layout_id = QString::number(program->getLastPresetId());
        QMetaObject::invokeMethod(program.data(), "onPresetChanged", Qt::QueuedConnection,
            Q_ARG(PRESETTYPE, PRESET_ADD), Q_ARG(QString, layout_id));
        ASSERT_TRUE(program->setTakeParams({ { "time", 7 } }, msg));
        QMetaObject::invokeMethod(&controller, "saveProgramList", Qt::QueuedConnection);
        controller.destroy();
    }
    EXPECT_TRUE(QFile::exists(folderOf(pro_id) + "/presets/preset_" + layout_id + ".json"));
    EXPECT_EQ(JsonFile::load(listPath()).value("data").toArray().at(0).toObject().value("take_time").toInt(), 7);
}
