#pragma once
// FrameQueueRegistry: one FrameQueue per program id. PreviewFrame and
// ProgramFrame are its two process-wide instances (the "pvw" and the "pgm"
// window's picture of every program).
//
// Thread-safe: the registry lock covers the map only.
#include <QMap>
#include <QMutex>
#include <QString>

#include <memory>

class FrameQueue;

class FrameQueueRegistry {
public:
    // The program's queue, made on first use; never null.
    std::shared_ptr<FrameQueue> getFrame(const QString& pro_id);
    // Forgets the program's queue; whoever still holds it keeps it (and its
    // frame), and the next getFrame makes a new one.
    void removeItem(const QString& pro_id);

protected:
    FrameQueueRegistry() = default;
    ~FrameQueueRegistry() = default;

private:
    QMap<QString, std::shared_ptr<FrameQueue>> queues;
    QMutex queues_mutex;
};
