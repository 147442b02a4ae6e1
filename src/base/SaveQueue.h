#pragma once
// SaveQueue: the state files waiting to be written, one entry per file.
//
// A change marks its file dirty, together with the writer that stores that
// file. A writer runs later on one of the queue's saver threads and stores
// the state as it is when it runs: it writes the file, or removes it when its
// object has gone. A mark for a file that is still waiting joins the waiting
// entry, so a burst of changes costs one write per file and the backlog is
// never longer than the number of files. A file is written by one saver at a
// time: a mark that comes while it is being written waits for that write and
// then writes it once more, so every change is stored by a write that started
// after it was made, and a removal and a save of one file can never overtake
// each other. Files start in the order they were first marked; different
// files are written side by side.
//
// A saver does not wait for the disk: the files its writer replaces
// (AtomicFile::write) are in place, whole, as soon as they are written, which
// is all a killed process needs. Making them durable against a power loss is
// the queue's syncer thread's job: it syncs each written file and its folder
// right after, so a disk that stalls for a second under load delays no
// visible write. A file written again while its sync waits is synced once.
//
// Owner: the object whose state the files hold (controller, source manager)
// keeps its queue as a member. Threads: the saver threads and the syncer,
// started by the constructor and joined by the destructor once everything
// marked has been written and synced. Any thread may mark; drain() returns
// once everything marked before it is written and synced. Writers take the
// owner's model locks themselves, so nobody drains while holding one.
#include <QHash>
#include <QSet>
#include <QString>

#include "base/AtomicFile.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SaveQueue {
public:
    using Writer = std::function<void()>;
    using Sync = std::function<void(const QString& path)>;

    // name: the saver threads' name (at most 15 characters are kept), also
    // used in the idle line of the log; savers: how many files may be
    // written at once; sync: makes a written file durable (tests hold it).
    explicit SaveQueue(const char* name, int savers = 1, Sync sync = AtomicFile::sync);
    ~SaveQueue();
    SaveQueue(const SaveQueue&) = delete;
    SaveQueue& operator=(const SaveQueue&) = delete;

    // Marks file dirty; writer stores it. A file already waiting keeps its
    // place and its writer (both store the same file).
    void mark(const QString& file, Writer writer);
    // Writes and syncs everything marked before the call, then returns.
    void drain();

private:
    void run();
    void syncWritten();
    bool idle() const { return m_order.empty() && m_writing.isEmpty(); }
    bool synced() const { return m_toSync.isEmpty() && !m_syncing; }

    const std::string m_name;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::deque<QString> m_order; // waiting files, oldest mark first
    QHash<QString, Writer> m_pending;
    QSet<QString> m_writing;
    bool m_stop = false;
    std::vector<std::thread> m_threads;

    const Sync m_sync;
    std::condition_variable m_syncWake;
    QSet<QString> m_toSync; // written since the syncer last looked
    bool m_syncing = false;
    bool m_stopSync = false;
    std::thread m_syncer;
};
