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
#include <QFile>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class QFileSystemWatcher;

class ZTLogger : public QObject {
    Q_OBJECT
public:
    static ZTLogger* getInstance();

    // Installs the message handler and starts the writer on directory.
    // maximumSize above 10 MiB (compared unsigned, so negatives too) means 4 MiB.
    void logInit(const QString& directory, int maximumSize);
    // Stops accepting entries, writes what is still queued, joins the writer
    // and closes the file. Later diagnostics are dropped.
    void logUninit();
    void initLevel(const QString& levelFile);
    void checkFileCount();
    void threadWrite();

    int level() const { return m_level.load(); }
    int maximumFileSize() const { return m_maxSize; }

private slots:
    void onFileChanged(const QString& path);

private:
    struct Entry {
        qint64 timeMs;
        int type;
        QString file;
        int line;
        QString function;
        QString text;
    };

    ZTLogger() = default;
    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text);
    void enqueue(Entry&& entry);
    bool openNewFile();
    bool writeBatch(const std::deque<Entry>& batch);

    QFileSystemWatcher* m_watcher = nullptr;
    QFile m_file;
    qint64 m_lastFileMs = 0; // creation time in the newest file's name
    QString m_dir;
    int m_maxSize = 0x400000;
    std::atomic<bool> m_stop{true};
    std::thread m_writer;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Entry> m_queue; // guarded by m_mutex
    bool m_accepting = false;  // guarded by m_mutex: false once no writer will ever take new entries
    std::atomic<int> m_level{2};

    static ZTLogger* m_instance;
};
