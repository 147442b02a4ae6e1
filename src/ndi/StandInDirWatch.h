#pragma once
// Wakes a stand-in finder when its view of the registry directory may have
// changed, so that an idle finder sleeps instead of listing the directory
// over and over.
//
// Two things change the view: a file of the directory comes or goes (an
// inotify watch on the directory), and a process that announced senders
// there ends without withdrawing them (a pidfd per such process, readable
// once it has exited). Where the kernel offers neither, the watch falls back
// to waking at a fixed step, so the finder lists the directory as often as
// it did before; a folder that is removed and made again is watched again.
//
// Owner: one StandInFinder; used only on its caller's thread.
#include <QString>
#include <QStringList>

#include <chrono>
#include <map>
#include <set>

class StandInDirWatch {
public:
    explicit StandInDirWatch(const QString& dir);
    ~StandInDirWatch();
    StandInDirWatch(const StandInDirWatch&) = delete;
    StandInDirWatch& operator=(const StandInDirWatch&) = delete;

    // Follows the processes behind these files of the directory (by the
    // pids in their names) and lets go of the others.
    void followOwners(const QStringList& fileNames);
    // Sleeps until the directory may have changed (true) or the timeout has
    // passed (false).
    bool wait(std::chrono::milliseconds timeout);

private:
    // Puts an inotify watch on the folder; false when that cannot be done.
    bool watchDirectory();
    // Reads the pending events; false when the watch itself has gone.
    bool drainEvents();

    const QString m_dir;
    int m_inotify = -1;
    std::map<qint64, int> m_pidfds; // followed process -> its pidfd
    std::set<qint64> m_departed; // reported as ended; not followed again while its files stay
    bool m_pending = true; // a change is known that no wait has reported yet
    bool m_pidfdsWork = true; // false once pidfd_open failed for a live process
    std::chrono::steady_clock::time_point m_nextLook; // without a full watch: when to look again
};
