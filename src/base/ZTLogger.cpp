#include "ZTLogger.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSettings>

#include <algorithm>
#include <chrono>
#include <pthread.h>

namespace {

constexpr int kDefaultMaxSize = 0x400000;
constexpr unsigned kLargestMaxSize = 0xA00000;
// Kept: the first file of the run history and the three newest.
constexpr int kKeptFiles = 4;
// Formatted lines are handed to the file in pieces of about this size.
constexpr int kWriteChunk = 256 * 1024;
// Once woken the writer lets lines gather this long (or until this many
// wait) before it takes them: a request logs several lines, and waking the
// writer for each would cost the logging threads a system call per line.
constexpr auto kGatherTime = std::chrono::milliseconds(10);
constexpr size_t kGatherEntries = 4096;
const QString kFilePattern = QStringLiteral("log_*.log");
const QString kFileNameFormat = QStringLiteral("'log_'yyyyMMdd_hhmmss.zzz'.log'");

qint64 floorSecond(qint64 ms)
{
    return ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
}

} // namespace

ZTLogger* ZTLogger::m_instance = nullptr;

ZTLogger* ZTLogger::getInstance()
{
    if (!m_instance)
        m_instance = new ZTLogger;
    return m_instance;
}

QByteArray ZTLogger::clipped(const QByteArray& text)
{
    if (text.size() <= kLoggedTextBytes)
        return text;
    return text.left(kLoggedTextBytes) + "... (" + QByteArray::number(text.size() - kLoggedTextBytes)
        + " bytes not logged)";
}

void ZTLogger::messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    ZTLogger* self = m_instance;
    if (!self || int(type) < self->m_level.load())
        return;
    // The context's texts are copied: a context may point into a buffer that
    // dies with the call (script messages do).
    self->enqueue(Entry { QDateTime::currentMSecsSinceEpoch(), int(type), context.line, QByteArray(context.file),
        QByteArray(context.function), text });
}

size_t ZTLogger::weight(const Entry& entry)
{
    return sizeof(Entry) + size_t(entry.text.size()) * sizeof(QChar) + size_t(entry.file.size())
        + size_t(entry.function.size());
}

void ZTLogger::enqueue(Entry&& entry)
{
    const size_t bytes = weight(entry);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_accepting)
            return;
        if (m_queue.size() >= m_backlogEntries || m_queuedBytes + bytes > m_backlogBytes) {
            ++m_dropped;
            return;
        }
        m_queue.push_back(std::move(entry));
        m_queuedBytes += bytes;
        // The writer sleeps on an empty queue, and while it gathers it waits
        // for kGatherEntries; other entries just join the coming batch.
        if (m_queue.size() != 1 && m_queue.size() != kGatherEntries)
            return;
    }
    m_wake.notify_one();
}

void ZTLogger::setBacklogLimits(size_t entries, size_t bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_backlogEntries = entries;
    m_backlogBytes = bytes;
}

void ZTLogger::logInit(const QString& directory, int maximumSize)
{
    if (m_writer.joinable())
        return; // already logging; the writer owns the directory and the size limit now
    qInstallMessageHandler(&ZTLogger::messageHandler);
    m_dir = directory.endsWith('/') ? directory : directory + '/';
    checkFileCount();

    if (!m_watcher) {
        m_watcher = new QFileSystemWatcher;
        const QString levelFile = m_dir + "settings.ini";
        initLevel(levelFile);
        m_watcher->addPath(levelFile);
        connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &ZTLogger::onFileChanged);
    }

    m_maxSize = unsigned(maximumSize) > kLargestMaxSize ? kDefaultMaxSize : maximumSize;

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accepting = true;
        m_dropped = 0;
    }
    m_stop = false;
    m_writer = std::thread(&ZTLogger::threadWrite, this);
}

void ZTLogger::logUninit()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accepting = false;
        m_stop = true;
        m_wake.notify_one();
    }
    if (m_writer.joinable())
        m_writer.join();
    delete m_watcher;
    m_watcher = nullptr;
    m_file.close();
}

void ZTLogger::initLevel(const QString& levelFile)
{
    QSettings settings(levelFile, QSettings::IniFormat);
    settings.beginGroup("settings");
    if (QFileInfo::exists(levelFile)) {
        m_level = int(settings.value("level", 2).toUInt());
    } else {
        settings.setValue("level", 0);
        m_level = 0;
    }
    settings.endGroup();
}

void ZTLogger::onFileChanged(const QString& path)
{
    initLevel(path);
    // Editors and QSettings replace the file by renaming a new one over it;
    // the watch stays on the old, unlinked file (or is dropped), so it is put
    // on whatever file carries the name now.
    if (m_watcher->files().contains(path))
        m_watcher->removePath(path);
    m_watcher->addPath(path);
}

void ZTLogger::checkFileCount()
{
    m_files = QDir(m_dir).entryList({ kFilePattern }, QDir::Files | QDir::Readable, QDir::Name);
    pruneFiles();
}

void ZTLogger::pruneFiles()
{
    // Names carry their creation time, so name order is age order.
    while (m_files.size() > kKeptFiles)
        QFile::remove(m_dir + m_files.takeAt(1));
}

bool ZTLogger::openNewFile()
{
    // Names carry the creation time to the millisecond and pruning goes by
    // name: a file opened within the same millisecond as the previous one
    // takes the next millisecond, so it neither truncates its predecessor
    // nor sorts before it.
    QDateTime when = QDateTime::fromMSecsSinceEpoch(std::max(QDateTime::currentMSecsSinceEpoch(), m_lastFileMs + 1));
    for (int attempt = 0; attempt < 1000; ++attempt, when = when.addMSecs(1)) {
        const QString name = when.toString(kFileNameFormat);
        m_file.setFileName(m_dir + name);
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            m_lastFileMs = when.toMSecsSinceEpoch();
            m_fileSize = 0;
            m_files.insert(int(std::lower_bound(m_files.begin(), m_files.end(), name) - m_files.begin()), name);
            return true;
        }
        if (!m_file.exists())
            return false;
    }
    return false;
}

void ZTLogger::appendLine(const Entry& e)
{
    // Local date and time change only from one second to the next, so the
    // expensive conversion runs once per second of log.
    const qint64 second = floorSecond(e.timeMs);
    if (second != m_stampSecond) {
        m_stampPrefix = QDateTime::fromMSecsSinceEpoch(second * 1000).toString("yyyy.MM.dd_hh.mm.ss.").toUtf8();
        m_stampSecond = second;
    }
    const int ms = int(e.timeMs - second * 1000);
    const int start = m_pending.size();
    m_pending += m_stampPrefix;
    m_pending += char('0' + ms / 100);
    m_pending += char('0' + ms / 10 % 10);
    m_pending += char('0' + ms % 10);
    m_pending += "\tLEVEL_";
    m_pending += QByteArray::number(e.type);
    m_pending += '\t';
    m_pending += e.file;
    m_pending += ':';
    m_pending += QByteArray::number(e.line);
    m_pending += " in ";
    m_pending += e.function;
    m_pending += '\t';
    m_pending += e.text.toUtf8();
    m_pending += "\r\n";
    m_fileSize += m_pending.size() - start;
}

bool ZTLogger::flushPending()
{
    if (m_pending.isEmpty())
        return true;
    const bool ok = m_file.write(m_pending) == m_pending.size() && m_file.flush();
    m_pending.clear();
    return ok;
}

bool ZTLogger::writeBatch(const std::deque<Entry>& batch)
{
    for (const Entry& e : batch) {
        pruneFiles();
        if (!m_file.isOpen() && !openNewFile())
            return false;
        if (e.text.isEmpty())
            continue;
        appendLine(e);
        // A file is closed after the line that makes it reach the limit.
        if (m_fileSize >= m_maxSize) {
            flushPending();
            m_file.close();
        } else if (m_pending.size() >= kWriteChunk) {
            flushPending();
        }
    }
    // A full disk loses lines but never stops the writer.
    flushPending();
    return true;
}

void ZTLogger::threadWrite()
{
    pthread_setname_np(pthread_self(), "log writer");
    for (;;) {
        std::deque<Entry> batch;
        quint64 dropped = 0;
        bool stopping = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_stop.load(); });
            m_wake.wait_for(lock, kGatherTime, [this] { return m_queue.size() >= kGatherEntries || m_stop.load(); });
            batch.swap(m_queue);
            m_queuedBytes = 0;
            std::swap(dropped, m_dropped);
            stopping = m_stop;
        }
        // The refused entries came after everything in this batch.
        if (dropped > 0 && int(QtInfoMsg) >= m_level.load()) {
            batch.push_back(Entry { QDateTime::currentMSecsSinceEpoch(), int(QtInfoMsg), __LINE__, QByteArray(__FILE__),
                QByteArray(Q_FUNC_INFO),
                QStringLiteral("%1 log lines were dropped: the log backlog was full").arg(dropped) });
        }
        // On stop the handler no longer accepts entries, so this batch is the last.
        if (!writeBatch(batch)) {
            qWarning("open logfile failed.");
            std::lock_guard<std::mutex> lock(m_mutex);
            m_accepting = false;
            m_queue.clear();
            m_queuedBytes = 0;
            return;
        }
        if (stopping)
            return;
    }
}
