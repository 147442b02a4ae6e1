#include "app/CommonInterface.h"
#include "base/Globals.h"
#include "base/ProcessSetup.h"
#include "base/ShutdownSignal.h"
#include "base/ZTLogger.h"
#include "output/GSTEAMER.h"
#include "render/SurfaceSetup.h"

#include <QApplication>
#include <QDebug>
#include <QDir>

int main(int argc, char** argv)
{
    // First of all, so that a stop request at any later moment takes the
    // orderly path instead of killing the process half-way.
    ShutdownSignal::install();
    // Before any thread exists: it changes the environment.
    const bool launched = ProcessSetup::takeLauncherMark();
    // Before the first file is made: the settings folder holds secrets.
    ProcessSetup::restrictNewFiles();
    const long openFiles = ProcessSetup::raiseOpenFileLimit();
    // Registered before anything else registers for exit, so it runs last:
    // pool threads of the stopped pipelines, and the threads Qt stops in its
    // static destructors, finish leaving before the process ends.
    ProcessSetup::settleThreadsAtExit(1000);

    SurfaceSetup::applyBeforeApplication();

    bool started = false;
    int status = 1;
    {
        QApplication application(argc, argv);
        g_is_developing = CommonInterface::hasDevelopingSwitch(argc, argv);

        const QString base = g_is_developing ? QDir::currentPath() : QCoreApplication::applicationDirPath();
        const QString resPath = base + "/res";
        const QString savePath = QDir::homePath() + "/AppData/Local/Panoptra_Pro/general";
        QDir().mkpath(resPath);
        QDir().mkpath(savePath);
        ProcessSetup::restrictExisting(savePath);
        g_currentPath = base;
        g_savePath = savePath;
        g_resPath = resPath;

        ZTLogger::getInstance()->logInit(g_savePath, 0x400000);
        qDebug() << "g_version:" << g_version;
        qDebug() << "open file limit:" << openFiles;
        GSTEAMER::Init(&argc, &argv);

        CommonInterface& shell = CommonInterface::getInstance();
        shell.setRestartByLauncher(launched);
        started = shell.init(base, application);
        status = started ? shell.exitStatus() : 1;
        // Every encoder went with its window in the controller's teardown.
        GSTEAMER::Cleanup();
        // The logger goes last, so that the whole teardown is in the log.
        qDebug() << (started ? "shutdown complete ." : "start-up abandoned .");
        ZTLogger::getInstance()->logUninit();
    }
    return status;
}
