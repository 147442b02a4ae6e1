// Shared main of every test executable: a QApplication exists for the whole
// run (tests run under a virtual X server), and GoogleTest runs the cases.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "base/Globals.h"
#include "base/ProcessSetup.h"

#include <QApplication>

#include <glib.h>

int main(int argc, char** argv)
{
    // Runs last at exit, after the static destructors have stopped Qt's own
    // threads, and before the leak check.
    ProcessSetup::settleThreadsAtExit(testsupport::budgetMs(2000));
    ::testing::InitGoogleTest(&argc, argv);
    // Headless runs have no session bus. Without an address, the first widget
    // makes the accessibility bridge have D-Bus fork a bus launcher from this
    // many-threaded process, which can deadlock under the sanitizers'
    // allocator; a disabled address fails at once. Programs the tests start
    // inherit it.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    // Tests give themselves and the application a fresh HOME; the media
    // registry stays in the build tree (scripts/test.sh prepares it), so
    // GStreamer scans the plug-ins once per build rather than per start.
    if (qEnvironmentVariableIsEmpty("GST_REGISTRY_1_0"))
        qputenv("GST_REGISTRY_1_0", PANOPTRA_BIN_DIR "/../gst-registry-1.0.bin");
    QApplication app(argc, argv);
    // Test programs run side by side: none may take the fixed default ports,
    // so any server a test starts without choosing a port gets a free one.
    g_httpPort = testsupport::freePort();
    g_websocketPort = testsupport::freePort();
    const int result = RUN_ALL_TESTS();
    // Tests spin the event loop without entering it, so objects handed to
    // deleteLater (some by Qt itself, for signals crossing threads) wait for
    // an explicit pass; without it they would look leaked at exit.
    const auto runDeferredDeletions = [] {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    runDeferredDeletions();
    // Stopped pipelines leave surplus pool threads idle, and later exiting in
    // the background; the leak check at exit must not meet one half gone.
    g_thread_pool_stop_unused_threads();
    ProcessSetup::settleThreads(testsupport::budgetMs(2000));
    // A thread that ended meanwhile may have sent one last signal into a
    // scene object: its carrier waits for one more pass.
    runDeferredDeletions();
    return result;
}
