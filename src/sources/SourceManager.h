#pragma once
// SourceManager: process-wide owner of source discovery and of the live
// connection of every discovered source.
//
// Owner: function-local static, made on first use by start-up and destroyed
// at process exit. Thread: the object lives on the GUI thread; its own thread
// (this QThread) runs discovery from startDiscover() until stopDiscover().
#include <QThread>

#include <atomic>
#include <memory>

class MediaConnection;

class SourceManager : public QThread {
    Q_OBJECT
public:
    static SourceManager* instance();
    ~SourceManager() override;

    // Reads the stored source groups ("sources.json").
    void load();
    void startDiscover();
    // The live connection of the named source; null when there is none.
    std::shared_ptr<MediaConnection> getConnection(const QString& name);

public slots:
    void stopDiscover();

private:
    SourceManager();

    std::atomic<bool> stopRequested{false};
};
