#include "Globals.h"
#include "TestSupport.h"
#include "Widget.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QFile>
#include <QSignalSpy>

namespace {

TEST(Widget, PortsComeFromTheDeviceConfigurationWhenThereIsOne)
{
    struct Case {
        const char* name;
        QByteArray file; // empty: no file
        int http, websocket;
    };
    QByteArray full, shortOne, outOfRange, zeroAndMax;
    QDataStream(&full, QIODevice::WriteOnly) << qint32(18443) << qint32(18444) << qint32(2);
    QDataStream(&shortOne, QIODevice::WriteOnly) << qint32(18445);
    QDataStream(&outOfRange, QIODevice::WriteOnly) << qint32(65536) << qint32(-1) << qint32(0);
    QDataStream(&zeroAndMax, QIODevice::WriteOnly) << qint32(0) << qint32(65535) << qint32(0);
    // A port no server could listen on falls back to the default.
    const std::vector<Case> cases{
        {"missing", {}, 81, 12345},
        {"three values", full, 18443, 18444},
        {"one value", shortOne, 18445, 12345},
        {"out of range", outOfRange, 81, 12345},
        {"zero and the highest port", zeroAndMax, 81, 65535},
    };
    for (const Case& c : cases) {
        testsupport::TempHome home;
        g_httpPort = 81;
        g_websocketPort = 12345;
        if (!c.file.isEmpty()) {
            QFile f(g_savePath + "/device.cfg");
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.file);
        }
        Widget widget;
        widget.initWidget("en");
        EXPECT_EQ(g_httpPort, c.http) << c.name;
        EXPECT_EQ(g_websocketPort, c.websocket) << c.name;
    }
    g_httpPort = 81;
    g_websocketPort = 12345;
}

TEST(Widget, ClosingTheWindowStartsTheShutdown)
{
    testsupport::TempHome home;
    Widget widget;
    widget.initWidget("en");
    QSignalSpy destroyAll(&widget, &Widget::destroyAll);
    widget.show();
    widget.close();
    EXPECT_EQ(destroyAll.count(), 1);
}

} // namespace
