// The push messages the controller builds for the browsers, compared with
// the messages written out by hand.
#include "app/BaseConfig.h"

#include "TestSupport.h"
#include "base/Globals.h"
#include "base/JsonFile.h"

#include <gtest/gtest.h>

#include <QJsonArray>

namespace {

QJsonObject record(const QString& pro_id, const QString& name, bool status)
{
    return { { "pro_id", pro_id }, { "name", name }, { "status", status }, { "frameRate", 25 }, { "width", 1280 },
        { "height", 720 }, { "index", 1 }, { "aspect", 1.5 }, { "take_time", 0 }, { "take_select", 1 } };
}

QJsonObject programItem(const QString& pro_id, const QString& name, bool status, const QString& url)
{
    return { { "pro_id", pro_id }, { "name", name }, { "status", status }, { "url", url } };
}

TEST(PushMessages, ProgramListInNumericOrderWithTheWebAddress)
{
    testsupport::TempHome home;
    BaseConfig controller;
    QJsonObject empty;
    controller.getProgramRequest(empty);
    EXPECT_EQ(empty, QJsonObject({ { "data", QJsonArray() }, { "result", "ok" }, { "socket_type", "program" } }));

    ASSERT_TRUE(JsonFile::save(g_savePath + "/programs.json",
        QJsonObject { { "data",
            QJsonArray { record("10", "Ten", true), record("2", "Two", false), record("1", "One", false) } } }));
    controller.load();

    // Before the main window reports its address the links are relative.
    QJsonObject message;
    controller.getProgramRequest(message);
    EXPECT_EQ(message,
        QJsonObject({ { "data",
                          QJsonArray { programItem("1", "One", false, "#/mobileLogin?pro_id=1"),
                              programItem("2", "Two", false, "#/mobileLogin?pro_id=2"),
                              programItem("10", "Ten", true, "#/mobileLogin?pro_id=10") } },
            { "result", "ok" }, { "socket_type", "program" } }));

    controller.changeUrl("https://192.168.1.20:81/");
    EXPECT_EQ(controller.programListJson(),
        QJsonObject({ { "data",
                          QJsonArray { programItem("1", "One", false, "https://192.168.1.20:81/#/mobileLogin?pro_id=1"),
                              programItem("2", "Two", false, "https://192.168.1.20:81/#/mobileLogin?pro_id=2"),
                              programItem("10", "Ten", true, "https://192.168.1.20:81/#/mobileLogin?pro_id=10") } },
            { "result", "ok" } }));

    struct Order {
        const char *a, *b;
        bool less;
    };
    for (const Order& o :
        std::vector<Order> { { "2", "10", true }, { "10", "2", false }, { "x", "1", true }, { "3", "3", false } })
        EXPECT_EQ(compareProData(o.a, o.b), o.less) << o.a << " < " << o.b;
}

TEST(PushMessages, MessagesOfOneProgram)
{
    testsupport::TempHome home;
    BaseConfig controller;
    controller.load();
    ASSERT_TRUE(controller.addProgram(
        { { "name", "Show" }, { "frameRate", 50 },
            { "resolution",
                QJsonObject { { "width", 1920 }, { "height", 1080 }, { "index", 2 }, { "aspect", 1.7777 } } } },
        QString()));

    const QJsonObject resolution { { "width", 1920 }, { "height", 1080 }, { "index", 2 }, { "aspect", 1.7777 } };
    const auto ids = [](const QJsonObject& body, const char* kind, bool withWin = true) {
        QJsonObject m = body;
        m.insert("pro_id", "1");
        if (withWin)
            m.insert("win_id", "1");
        m.insert("socket_type", kind);
        return m;
    };
    const QJsonObject ok { { "result", "ok" } };
    const auto okWith = [&](const QJsonValue& data) {
        QJsonObject m = ok;
        m.insert("data", data);
        return m;
    };

    QJsonObject window, preset, grid, control, live, screen;
    controller.getWindowRequest(window, "1");
    controller.getPresetRequest(preset, "1");
    controller.getGridRequest(grid, "1", "1");
    controller.getControlRequest(control, "1", "1");
    controller.getLiveRequest(live, "1", "1");
    controller.getScreenRequest(screen, "1", "1");

    EXPECT_EQ(window,
        ids(okWith(QJsonArray { QJsonObject { { "id", "1" }, { "name", "Main" }, { "layout_id", "" },
                { "modified", false }, { "resolution", resolution }, { "frameRate", 50 }, { "number_used", false },
                { "number_range", QJsonObject { { "min", 0 }, { "max", 0 } } } } }),
            "window", false));
    EXPECT_EQ(preset, ids(okWith(QJsonArray()), "preset", false));
    EXPECT_EQ(grid,
        ids(okWith(QJsonObject { { "layout_id", "" }, { "layout_count", 0 }, { "layout_name", "" },
                { "layout", QJsonArray() }, { "resolution", resolution } }),
            "grid"));
    EXPECT_EQ(control,
        ids(okWith(QJsonObject { { "border", QJsonObject { { "enable", false }, { "color", "#8c8c8c" } } },
                { "font", QJsonObject { { "size", 18 }, { "color", "#ffffff" } } }, { "audio_gain", 0 },
                { "center_cross", false }, { "safe_area", false }, { "name_enable", false }, { "vu_meter", false } }),
            "tool_control"));
    EXPECT_EQ(live, ids(okWith(QJsonObject { { "select", "" } }), "live"));
    EXPECT_EQ(screen, ids(okWith(QJsonObject { { "select", 0 }, { "isFull", false } }), "screen"));

    // A window the program lacks: the getter's own error, with the ids.
    QJsonObject missingWindow;
    controller.getLiveRequest(missingWindow, "1", "9");
    EXPECT_EQ(missingWindow,
        QJsonObject({ { "result", "error" }, { "pro_id", "1" }, { "win_id", "9" }, { "socket_type", "live" } }));
    controller.destroy();
}

TEST(PushMessages, MessagesForAProgramThatIsGone)
{
    testsupport::TempHome home;
    BaseConfig controller;
    QJsonObject window;
    controller.getWindowRequest(window, "7");
    EXPECT_EQ(window, QJsonObject({ { "result", "error" }, { "socket_type", "window" }, { "pro_id", "7" } }));

    using Builder = void (BaseConfig::*)(QJsonObject&, const QString&, const QString&);
    const std::vector<std::pair<const char*, Builder>> builders {
        { "grid", &BaseConfig::getGridRequest },
        { "tool_control", &BaseConfig::getControlRequest },
        { "live", &BaseConfig::getLiveRequest },
        { "screen", &BaseConfig::getScreenRequest },
    };
    for (const auto& [kind, build] : builders) {
        QJsonObject message;
        (controller.*build)(message, "7", "1");
        EXPECT_EQ(message, QJsonObject({ { "result", "error" }, { "socket_type", kind } })) << kind;
    }
    QJsonObject preset;
    controller.getPresetRequest(preset, "7");
    EXPECT_EQ(preset, QJsonObject({ { "result", "error" }, { "socket_type", "preset" } }));
}

} // namespace
