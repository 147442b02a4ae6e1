#pragma once
// Process-wide settings made once at start-up, before any thread, file or
// socket exists: who may read what the process writes, and how many files
// and connections it may hold open.
//
// Plain static functions, called from main on the GUI thread.
#include <QString>

class ProcessSetup {
public:
    // Files the process makes are its owner's only (0600, folders 0700): the
    // settings folder holds the users' password digests, the TLS private key
    // and logs with addresses and names.
    static void restrictNewFiles();
    // Raises the soft limit of open files to the hard limit, so that the
    // connection caps of the servers, not the descriptor table, decide when
    // a client is turned away. Returns the soft limit in force afterwards.
    static long raiseOpenFileLimit();
    // Takes away the group's and others' access to folder and everything in
    // it, for files an earlier version of the program left readable.
    static void restrictExisting(const QString& folder);
    // Whether the launcher started this process and waits for it: the
    // launcher names itself in "PANOPTRA_LAUNCHER_PID", and only its own
    // child counts (a process that inherited the variable from further up
    // does not). The variable is removed, so that nothing this process
    // starts takes it for its own. Called first thing in main, before any
    // thread exists.
    static bool takeLauncherMark();
    // The exit status by which the application asks the launcher to start it
    // again, after its orderly shutdown.
    static constexpr int kRestartStatus = PANOPTRA_RESTART_STATUS;
    // At exit: waits (at most maxMs) until the caller is the process's only
    // thread, or the others have all been asleep for a moment (threads a
    // library keeps for good). A thread is let go before it has finished
    // leaving: Qt's wait() returns before the thread's own teardown runs,
    // and pool threads of stopped pipelines end on their own. Such a thread
    // must be gone before the process ends: the leak check of a sanitized
    // build stops every thread and reads its stack, and the stack of a
    // thread half way out is no longer there to read.
    static void settleThreads(int maxMs);
    // Settles the threads once more after the static destructors have run
    // (Qt's D-Bus and X event threads stop there), just before the leak
    // check. Called first thing in main, so that it runs after everything
    // main and its libraries register for exit.
    static void settleThreadsAtExit(int maxMs);
};
