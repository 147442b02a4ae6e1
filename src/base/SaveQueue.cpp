#include "SaveQueue.h"

#include <QDateTime>
#include <QDebug>

#include <algorithm>
#include <utility>

#include <pthread.h>

SaveQueue::SaveQueue(const char* name, int savers, Sync sync)
    : m_name(name)
    , m_sync(std::move(sync))
{
    for (int i = 0; i < std::max(1, savers); ++i)
        m_threads.emplace_back(&SaveQueue::run, this);
    m_syncer = std::thread(&SaveQueue::syncWritten, this);
}

SaveQueue::~SaveQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
    // The savers have written their last files: the syncer syncs those, then ends.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopSync = true;
    }
    m_syncWake.notify_all();
    m_syncer.join();
}

void SaveQueue::mark(const QString& file, Writer writer)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pending.contains(file))
            return;
        m_pending[file] = std::move(writer);
        m_order.push_back(file);
    }
    m_wake.notify_one();
}

void SaveQueue::drain()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_written.wait(lock, [this] { return idle() && synced(); });
}

void SaveQueue::run()
{
    pthread_setname_np(pthread_self(), m_name.substr(0, 15).c_str());
    // What the writers replace is in place at once; its sync comes after.
    const AtomicFile::DeferSync syncLater([this](const QString& path) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_toSync.insert(path);
        }
        m_syncWake.notify_one();
    });
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        // The oldest waiting file that no other saver is writing.
        auto next = m_order.end();
        m_wake.wait(lock, [&] {
            next = std::find_if(
                m_order.begin(), m_order.end(), [this](const QString& file) { return !m_writing.contains(file); });
            return next != m_order.end() || (m_stop && m_order.empty());
        });
        if (next == m_order.end()) // stopping, and everything is written
            return;
        // The entry leaves the queue before its writer looks at the state:
        // a change made from here on marks the file again.
        const QString file = *next;
        m_order.erase(next);
        const Writer writer = m_pending.take(file);
        m_writing.insert(file);
        lock.unlock();
        writer();
        lock.lock();
        m_writing.remove(file);
        // A mark of this file made during the write may wait for a saver.
        m_wake.notify_all();
        if (idle()) {
            // The marker that everything marked so far is stored; the time
            // is taken while no mark can come in between.
            qDebug().noquote() << "state saves idle:" << QString::fromStdString(m_name) << "at"
                               << QDateTime::currentMSecsSinceEpoch();
            m_written.notify_all();
        }
    }
}

void SaveQueue::syncWritten()
{
    pthread_setname_np(pthread_self(), "state sync");
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_syncWake.wait(lock, [this] { return !m_toSync.isEmpty() || m_stopSync; });
        if (m_toSync.isEmpty()) // stopping, and everything is synced
            return;
        const QSet<QString> written = std::exchange(m_toSync, {});
        m_syncing = true;
        lock.unlock();
        for (const QString& path : written)
            m_sync(path);
        lock.lock();
        m_syncing = false;
        m_written.notify_all();
    }
}
