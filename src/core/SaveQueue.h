#pragma once
// SaveQueue: the state files waiting to be written, one entry per file.
//
// A change marks its file dirty, together with the writer that stores that
// file. The writer runs later on the queue's thread and stores the state as
// it is when it runs: it writes the file, or removes it when its object has
// gone. A mark for a file that is still waiting joins the waiting entry, so a
// burst of changes costs one write per file and the backlog is never longer
// than the number of files. A mark that comes while its file is being
// written queues the file once more, so every change is stored by a write
// that started after it was made. Files are written in the order they were
// first marked; a removal and a save of one file are one entry, so neither
// can overtake the other.
//
// Owner: the object whose state the files hold (controller, source manager)
// keeps its queue as a member. Thread: one saver thread, started by the
// constructor and joined by the destructor once everything marked has been
// written. Any thread may mark; drain() returns once everything marked
// before it is written. Writers take the owner's model locks themselves, so
// nobody drains while holding one.
#include <QHash>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class SaveQueue {
public:
    using Writer = std::function<void()>;

    // name: the saver thread's name (at most 15 characters are kept).
    explicit SaveQueue(const char* name);
    ~SaveQueue();
    SaveQueue(const SaveQueue&) = delete;
    SaveQueue& operator=(const SaveQueue&) = delete;

    // Marks file dirty; writer stores it. A file already waiting keeps its
    // place and its writer (both store the same file).
    void mark(const QString& file, Writer writer);
    // Writes everything marked before the call, then returns.
    void drain();

private:
    void run();

    const std::string m_name;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::deque<QString> m_order;
    QHash<QString, Writer> m_pending;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};
