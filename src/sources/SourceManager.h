#pragma once
// SourceManager: process-wide owner of source discovery, of the source
// groups with their file "sources.json", and of the one live connection of
// every discovered source.
//
// Each source group gets its own finder. The discovery loop (this QThread's
// run) polls every group's finder, makes one NDIConnection per source name
// whatever the number of groups that list it, and ages out sources no group
// has listed for five seconds once a finder was made again. Consumers get a
// source's connection by name through getConnection and share it.
//
// Owner: instance() is a function-local static, made on first use by
// start-up and destroyed at process exit (tests make their own managers).
// Threads: the object lives on the thread that made it (the GUI thread); a
// group change marks the sources file, which the saver thread of `saves`
// writes as the groups are when it runs (stopDiscover waits for it); the discovery loop
// runs on the manager's own thread from startDiscover() to stopDiscover();
// request handlers (HTTPS thread), the WebSocket push (controller worker),
// video items and mixers call in from their own threads.
//
// Locking: tableLock guards the groups (structure and fields), the group
// names, the source table and the id counter. It is never held while a
// finder waits, nor while a connection is stopped or destroyed: a
// connection's threads report capabilities back under this lock, so waiting
// for them while holding it would never end.
#include "MediaCapabilities.h"
#include "SourceGroup.h"

#include "base/SaveQueue.h"

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

class MediaConnection;

// True when the unsigned decimal value of a is less than that of b; a text
// that is not such a number counts as 0. Orders disc_ids "1", "2", "10".
bool compareSrcData(const QString& a, const QString& b);

class SourceManager : public QThread {
    Q_OBJECT
public:
    // One discovered source.
    struct SourceEntry {
        QString name;
        QString address; // "IP:port" as the finder reports it
        Media_capabilities_t capabilities;
        bool present = false; // listed by some group since the last finder creation
        int64_t lastSeenMs = 0;
        std::shared_ptr<MediaConnection> connection;
    };

    // A listed source that nobody lists any more is dropped this long after
    // it was last seen (counted once some finder was made again).
    static constexpr int64_t kAgeOutMs = 5000;
    // After an address change a group leaves its sources' connections alone this long.
    static constexpr int64_t kAddressSettleMs = 10000;

    static SourceManager* instance();
    // The application uses instance(); tests make managers of their own.
    SourceManager();
    ~SourceManager() override;

    // Reads the stored source groups from g_savePath + "/sources.json".
    void load();
    void read(const QJsonObject& obj);
    void write(QJsonObject& obj);

    void startDiscover();
    // Stops the loop, destroys every finder and lets go of every connection.
    void destroyThread();
    // Every finder is made again in the next pass (and so sources no group
    // lists any more age out).
    void forceRefresh();
    // A share of the named source's connection; empty when the name is
    // unknown or the table stayed busy for 200 ms.
    std::shared_ptr<MediaConnection> getConnection(const QString& name);

    // Source group operations of the control API. They return false (with
    // `error` set to "discovery.nameError" for a name in use) or the reply;
    // each successful change saves the sources file through a queued call.
    bool addSourceList(const QJsonObject& req, QString& error);
    bool modifySourceList(const QJsonObject& req, QString& error);
    bool removeSourceList(const QJsonObject& req);
    QJsonObject getSourceList(const QJsonObject& req);
    // Every group with the sources it currently finds.
    QJsonObject sourcesToJson();

signals:
    // A source's capabilities changed, or (type "none") the source is gone.
    void sourceUpdated(const QString& type, const QString& srcName, const QString& address, const QString& web_url,
        const QString& talk_url, bool support_ptz, bool support_kvm, bool pvw, bool pgm);

public slots:
    void stopDiscover();
    // Writes the sources file now.
    void onSourceListChanged();
    // From a connection's period thread: copies its capabilities into the table.
    void updateCapabilities(const QString& name, int bw);

protected:
    void run() override;
    // Makes the connection of a newly found source, on the discovery thread.
    // A subclass that overrides it stops discovery in its own destructor.
    virtual std::shared_ptr<MediaConnection> makeConnection();

private:
    using Lock = std::unique_lock<std::recursive_timed_mutex>;

    void discoveryPass();
    bool makeFinder(SourceGroup& group);
    // fresh: the finder was just made. Its first listing replaces the
    // group's, even when it finds nothing: a finder reports only changes to
    // what it has seen, so the sources of a sender that went while no finder
    // watched would otherwise stay listed for good.
    void pollGroup(SourceGroup& group, bool fresh = false);
    void connectFoundSources();
    void ageSources();
    void saveLater();
    void writeSourcesFile(const QString& file);
    // The group of a disc_id that requests may see (not removed); null when none.
    SourceGroup* liveGroup(const QString& disc_id);

    std::map<QString, SourceGroup> groups; // disc_id -> group; nodes stay put while others come and go
    QMap<QString, QString> groupNames; // disc_id -> name
    std::map<QString, SourceEntry> sourceTable; // source name -> entry
    std::recursive_timed_mutex tableLock;
    std::atomic<bool> refreshRequested { true };
    std::atomic<bool> stopRequested { false };
    int lastDiscId = 1;
    // Last, so it has written what was marked before the groups go.
    SaveQueue saves { "sources saver" };
};
