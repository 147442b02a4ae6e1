#pragma once
// ZTLogger: every diagnostic of the process, written to rotating log files.
//
// Owner: process-wide singleton, created by main and never deleted (the
// message handler may run until the very end of the process).
// Threads: the message handler runs on whatever thread logs and only appends
// to the in-memory queue; one writer thread (started by logInit, joined by
// logUninit) is the only one that touches the log files. The level-file
// watcher and logInit/logUninit belong to the GUI thread.
//
// Files in the log directory: "log_yyyyMMdd_hhmmss.zzz.log", one line per
// entry, a new file once one reaches the size limit; before each line the
// files are pruned to the oldest and the three newest. "settings.ini"
// [settings] level is the lowest message type written (0 debug ... 4 info),
// re-read whenever the file changes or is replaced.
//
// Cost: the writer lists the directory once (logInit) and from then on keeps
// the list of log files itself, adding the files it opens and dropping those
// it prunes, so a line costs no directory listing. It takes the whole queue
// at once and writes it with one write per batch. The queue is bounded (by
// entries and by bytes): while it is full new entries are dropped and
// counted, and the writer logs how many were lost once it catches up.
#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class QFileSystemWatcher;

class ZTLogger : public QObject {
    Q_OBJECT
public:
    // Bounds of the queue between the logging threads and the writer.
    static constexpr size_t kMaxBacklogEntries = 100000;
    static constexpr size_t kMaxBacklogBytes = 64 * 1024 * 1024;

    static ZTLogger* getInstance();

    // A text received from outside (a request body, a message) as a log line
    // may carry it: whole up to kLoggedTextBytes, past that its start and
    // how many bytes were left out, so large texts sent on purpose cannot
    // push the kept history out of the rotation.
    static constexpr int kLoggedTextBytes = 4096;
    static QByteArray clipped(const QByteArray& text);

    // Installs the message handler and starts the writer on directory.
    // maximumSize above 10 MiB (compared unsigned, so negatives too) means 4 MiB.
    void logInit(const QString& directory, int maximumSize);
    // Stops accepting entries, writes what is still queued, joins the writer
    // and closes the file. Later diagnostics are dropped.
    void logUninit();
    void initLevel(const QString& levelFile);
    // Lists the log directory afresh and prunes it to the oldest and the
    // three newest log files.
    void checkFileCount();
    void threadWrite();

    // Smaller bounds of the queue, for tests that fill it.
    void setBacklogLimits(size_t entries, size_t bytes);

    int level() const { return m_level.load(); }
    int maximumFileSize() const { return m_maxSize; }

private slots:
    void onFileChanged(const QString& path);

private:
    struct Entry {
        qint64 timeMs;
        int type;
        int line;
        QByteArray file;
        QByteArray function;
        QString text;
    };

    ZTLogger() = default;
    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text);
    static size_t weight(const Entry& entry);
    void enqueue(Entry&& entry);
    // The writer's side of pruning: works on the tracked list of files.
    void pruneFiles();
    bool openNewFile();
    void appendLine(const Entry& entry);
    bool flushPending();
    bool writeBatch(const std::deque<Entry>& batch);

    QFileSystemWatcher* m_watcher = nullptr;
    QFile m_file;
    qint64 m_fileSize = 0; // bytes written to m_file, pending ones included
    qint64 m_lastFileMs = 0; // creation time in the newest file's name
    QString m_dir;
    int m_maxSize = 0x400000;
    std::atomic<bool> m_stop { true };
    std::thread m_writer;

    // Writer's state (and logInit's, before the writer starts).
    QStringList m_files; // log file names in the directory, oldest first
    QByteArray m_pending; // formatted lines not yet written to m_file
    qint64 m_stampSecond = -1; // the second m_stampPrefix was made for
    QByteArray m_stampPrefix; // "yyyy.MM.dd_hh.mm.ss." of that second

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Entry> m_queue; // guarded by m_mutex
    size_t m_queuedBytes = 0; // guarded by m_mutex
    size_t m_backlogEntries = kMaxBacklogEntries; // guarded by m_mutex
    size_t m_backlogBytes = kMaxBacklogBytes; // guarded by m_mutex
    quint64 m_dropped = 0; // guarded by m_mutex: entries refused since the writer last took the queue
    bool m_accepting = false; // guarded by m_mutex: false once no writer will ever take new entries
    std::atomic<int> m_level { 2 };

    static ZTLogger* m_instance;
};
