// The presets of a program: made from templates, listed, renamed, put on
// windows, saved from them, saved under a new name and removed.
#include "ProgramFixture.h"
#include "model/LayoutTemplate.h"
#include "model/Preset.h"

#include <gtest/gtest.h>

namespace {

QStringList listedIds(const ProjectObject& program)
{
    QStringList ids;
    for (const QJsonValue& v : program.getLayoutList().value("data").toArray())
        ids << v.toObject().value("layout_id").toString();
    return ids;
}

bool used(const ProjectObject& program, const QString& layout_id)
{
    return program.getPreset(layout_id)->getLayoutJson().value("used").toBool();
}

QJsonObject add(const QString& name, const QString& template_id = "6")
{
    return { { "name", name }, { "template_id", template_id } };
}

TEST(ProgramPresets, MadeFromTemplatesListedRenamedAndRemoved)
{
    ProgramFixture p("31");
    ProjectObject& program = p.program;
    QString msg;
    ASSERT_TRUE(program.addLayout(add("Full"), msg));
    const QJsonObject full = program.getPreset("1")->getLayoutJson();
    EXPECT_EQ(full.value("name"), "Full");
    EXPECT_EQ(full.value("layout_count"), 1);
    EXPECT_EQ(full.value("position").toArray().size(), 1);

    EXPECT_FALSE(program.addLayout(add("Full", "2"), msg));
    EXPECT_EQ(msg, "preset.nameError");
    msg.clear();
    EXPECT_FALSE(program.addLayout({ { "name", "No template" } }, msg));
    EXPECT_EQ(msg, "");
    ASSERT_TRUE(program.addLayout(add("Quad", "2"), msg));
    EXPECT_TRUE(program.getPreset("3")) << "a refused name still used up id 2";
    EXPECT_FALSE(program.getPreset("2"));
    EXPECT_EQ(program.getPreset("3")->getLayoutJson().value("layout_count"), LayoutTemplate().getLayoutCount("2"));
    program.addLayout(add("Unknown template", "99"), msg);
    EXPECT_TRUE(program.getPreset("4")) << "kept whatever the layout made of it";
    for (int i = 5; i <= 10; ++i)
        ASSERT_TRUE(program.addLayout(add(QString("P%1").arg(i)), msg));
    EXPECT_EQ(listedIds(program).mid(0, 3), QStringList({ "1", "10", "3" }));

    // Renaming: to its own name is fine, to another preset's name is not.
    EXPECT_TRUE(program.setLayoutName("1", { { "name", "Full" } }, msg));
    msg.clear();
    EXPECT_FALSE(program.setLayoutName("1", { { "name", "Quad" } }, msg));
    EXPECT_EQ(msg, "preset.nameError");
    EXPECT_TRUE(program.setLayoutName("1", { { "name", "Whole" } }, msg));
    EXPECT_EQ(program.getPreset("1")->getLayoutName(), "Whole");
    EXPECT_TRUE(program.addLayout(add("Full"), msg)) << "the old name is free again";
    EXPECT_FALSE(program.setLayoutName("2", { { "name", "X" } }, msg));
    EXPECT_FALSE(program.setLayoutName("1", {}, msg));

    // A preset a window shows cannot go; one no window shows can.
    ASSERT_TRUE(program.setLayout("1", "3"));
    msg.clear();
    EXPECT_FALSE(program.removeLayout("3", msg));
    EXPECT_EQ(msg, "这个预设正在使用中");
    EXPECT_TRUE(program.getPreset("3"));
    msg.clear();
    EXPECT_FALSE(program.removeLayout("2", msg));
    EXPECT_EQ(msg, "");
    ASSERT_TRUE(program.removeLayout("1", msg));
    EXPECT_FALSE(program.getPreset("1"));
    EXPECT_TRUE(program.addLayout(add("Whole"), msg)) << "its name went with it";
}

TEST(ProgramPresets, PutOnWindowsSavedFromThemAndSavedAsNew)
{
    ProgramFixture p("32");
    ProjectObject& program = p.program;
    QString msg;
    ASSERT_TRUE(program.addLayout(add("Full"), msg)); // "1"
    ASSERT_TRUE(program.addLayout(add("Quad", "2"), msg)); // "2"

    EXPECT_FALSE(program.setLayout("9", "1"));
    EXPECT_FALSE(program.setLayout("1", "9"));
    EXPECT_EQ(p.win("1").getLayoutId(), "");

    ASSERT_TRUE(program.setLayout("1", "1"));
    ASSERT_TRUE(program.setLayout("1", "1")) << "the same preset again";
    EXPECT_EQ(p.win("1").getLayoutId(), "1");
    EXPECT_FALSE(p.win("1").getModified());
    EXPECT_TRUE(used(program, "1"));
    EXPECT_FALSE(p.win("1").isStarted()) << "the program is stopped";
    ASSERT_TRUE(program.setLayout("1", "2"));
    EXPECT_FALSE(used(program, "1")) << "the window was listed once";
    EXPECT_TRUE(used(program, "2"));
    program.setStatus(true);
    ASSERT_TRUE(program.setLayout("1", "1"));
    EXPECT_TRUE(p.win("1").isStarted());

    // Changing the window's layout leaves the preset; saving copies it back.
    const QJsonObject stored = program.getPreset("1")->getLayoutJson();
    const QJsonObject changed { { "pro_id", "32" }, { "win_id", "1" }, { "layout_id", "1" },
        { "position",
            QJsonArray { QJsonObject { { "id", 1 }, { "number", 1 }, { "type", "" }, { "z_index", 0 }, { "x", 0 },
                             { "y", 0 }, { "width", 50 }, { "height", 100 } },
                QJsonObject { { "id", 2 }, { "number", 2 }, { "type", "" }, { "z_index", 1 }, { "x", 50 }, { "y", 0 },
                    { "width", 50 }, { "height", 100 } } } } };
    EXPECT_FALSE(program.modifyLayout({ { "layout_id", "1" } }, msg));
    EXPECT_FALSE(program.modifyLayout({ { "win_id", "9" } }, msg));
    ASSERT_TRUE(program.modifyLayout(changed, msg));
    EXPECT_TRUE(p.win("1").getModified());
    EXPECT_EQ(program.getPreset("1")->getLayoutJson(), stored);
    ASSERT_TRUE(program.saveLayout({ { "win_id", "1" } }, msg));
    EXPECT_FALSE(p.win("1").getModified());
    EXPECT_EQ(program.getPreset("1")->getLayoutJson().value("position").toArray().size(), 2);
    EXPECT_FALSE(program.saveLayout({ { "win_id", "pvw" } }, msg)) << "the bus shows no stored preset";

    // Saved as new: from another preset when named, else from the window.
    ASSERT_TRUE(program.resaveLayout("1", { { "name", "Copy of Quad" }, { "layout_id", "2" } }, msg));
    EXPECT_EQ(program.getPreset("3")->getLayoutJson().value("position"),
        program.getPreset("2")->getLayoutJson().value("position"));
    EXPECT_EQ(program.getPreset("3")->getLayoutId(), "3");
    EXPECT_EQ(program.getPreset("3")->getLayoutName(), "Copy of Quad");
    ASSERT_TRUE(program.resaveLayout("1", { { "name", "From window" }, { "layout_id", "" } }, msg));
    EXPECT_EQ(program.getPreset("4")->getLayoutJson().value("position").toArray().size(), 2);
    EXPECT_EQ(p.win("1").getLayoutId(), "1") << "the window keeps its preset";
    msg.clear();
    EXPECT_FALSE(program.resaveLayout("1", { { "name", "Quad" } }, msg));
    EXPECT_EQ(msg, "preset.nameError");
    EXPECT_FALSE(program.resaveLayout("9", { { "name", "Nobody" }, { "layout_id", "7" } }, msg));
    EXPECT_FALSE(program.getPreset("5"));
}

} // namespace
