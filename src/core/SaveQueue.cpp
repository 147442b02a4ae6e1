#include "SaveQueue.h"

#include <QDateTime>
#include <QDebug>

#include <pthread.h>

SaveQueue::SaveQueue(const char* name)
    : m_name(name)
{
    m_thread = std::thread(&SaveQueue::run, this);
}

SaveQueue::~SaveQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void SaveQueue::mark(const QString& file, Writer writer)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pending.contains(file))
            return;
        m_pending.insert(file, std::move(writer));
        m_order.push_back(file);
    }
    m_wake.notify_one();
}

void SaveQueue::drain()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_written.wait(lock, [this] { return m_order.empty() && !m_busy; });
}

void SaveQueue::run()
{
    pthread_setname_np(pthread_self(), m_name.substr(0, 15).c_str());
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_order.empty(); });
        if (m_order.empty()) // stopping, and everything is written
            return;
        // The entry leaves the queue before its writer looks at the state:
        // a change made from here on marks the file again.
        const QString file = m_order.front();
        m_order.pop_front();
        const Writer writer = m_pending.take(file);
        m_busy = true;
        lock.unlock();
        writer();
        lock.lock();
        m_busy = false;
        if (m_order.empty()) {
            // The marker that everything acknowledged so far is stored.
            qDebug().noquote() << "state saves idle:" << QString::fromStdString(m_name) << "at"
                              << QDateTime::currentMSecsSinceEpoch();
            m_written.notify_all();
        }
    }
}
