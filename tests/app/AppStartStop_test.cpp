// Start-up and shutdown of the whole application, repeated: many runs in a
// row in one home, and a stop requested at different points of start-up. The
// built executable runs as the operator would run it, with HOME in a
// temporary folder, and is stopped with signals (a sanitized build: exit
// status 0 also means no leak or memory error was found on the way out).
#include "AppProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <csignal>

namespace {

using namespace apptest;

TEST(Application, TenStartsAndStopsInARow)
{
    // Each run starts on what the one before left in the home and on its
    // ports; ten of them show that as well as more would, at a sanitized
    // start's cost each.
    QTemporaryDir home;
    writeDeviceConfig(home.path());
    for (int run = 0; run < 10; ++run) {
        App app(home.path());
        ASSERT_TRUE(app.waitForLogLine("show .")) << "run " << run;
        ASSERT_TRUE(app.stopsCleanly(SIGTERM)) << "run " << run;
    }
}

TEST(Application, StopRequestedDuringStartUpEndsTheSameWay)
{
    QTemporaryDir home;
    writeDeviceConfig(home.path());
    // The signal lands at different points of start-up: as logging starts,
    // during the media framework's set-up, and while the services come up.
    for (const QString& trigger :
        { QString(), QString("Plugin: "), QString("init base configs ."), QString("open windows .") }) {
        for (int run = 0; run < 2; ++run) {
            App app(home.path());
            if (trigger.isEmpty()) {
                ASSERT_TRUE(testsupport::waitFor([&] { return !app.runLog().isEmpty(); }, kStartMs));
            } else {
                ASSERT_TRUE(app.waitForLogLine(trigger)) << trigger.toStdString();
            }
            ASSERT_TRUE(app.stopsCleanly(SIGTERM)) << trigger.toStdString();
            EXPECT_TRUE(contains(app.runLogLines(), "shutdown complete .")) << trigger.toStdString();
        }
    }
}

} // namespace
