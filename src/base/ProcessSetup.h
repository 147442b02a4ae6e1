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
    // At exit: waits (at most maxMs) until the number of the process's threads
    // has stayed the same for a moment, so that the worker threads libraries
    // let go when their pipelines stop have finished leaving before the
    // process ends.
    static void settleThreads(int maxMs);
};
