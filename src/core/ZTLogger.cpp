#include "ZTLogger.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSettings>
#include <QTextStream>

#include <algorithm>
#include <pthread.h>

namespace {

// A backlog this large after one wake of the writer is dropped whole: after a
// burst the logger catches up instead of spending minutes on old lines.
constexpr size_t kMaxBatch = 0x5000;
constexpr int kDefaultMaxSize = 0x400000;
constexpr unsigned kLargestMaxSize = 0xA00000;
const QString kFilePattern = QStringLiteral("log_*.log");
const QString kFileNameFormat = QStringLiteral("'log_'yyyyMMdd_hhmmss.zzz'.log'");

} // namespace

ZTLogger* ZTLogger::m_instance = nullptr;

ZTLogger* ZTLogger::getInstance()
{
    if (!m_instance)
        m_instance = new ZTLogger;
    return m_instance;
}

void ZTLogger::messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    ZTLogger* self = m_instance;
    if (!self || int(type) < self->m_level.load())
        return;
    self->enqueue(Entry{QDateTime::currentMSecsSinceEpoch(), int(type),
        context.file ? QString::fromUtf8(context.file) : QString(), context.line,
        context.function ? QString::fromUtf8(context.function) : QString(), text});
}

void ZTLogger::enqueue(Entry&& entry)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_accepting)
        return;
    m_queue.push_back(std::move(entry));
    m_wake.notify_one();
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
    const QStringList files = QDir(m_dir).entryList({kFilePattern}, QDir::Files | QDir::Readable, QDir::Name);
    // Keep the first file of the run history and the three newest.
    for (int i = 1; i <= files.size() - 4; ++i)
        QFile::remove(m_dir + files.at(i));
}

bool ZTLogger::openNewFile()
{
    // Names carry the creation time to the millisecond and pruning goes by
    // name: a file opened within the same millisecond as the previous one
    // takes the next millisecond, so it neither truncates its predecessor
    // nor sorts before it.
    QDateTime when = QDateTime::fromMSecsSinceEpoch(std::max(QDateTime::currentMSecsSinceEpoch(), m_lastFileMs + 1));
    for (int attempt = 0; attempt < 1000; ++attempt, when = when.addMSecs(1)) {
        m_file.setFileName(m_dir + when.toString(kFileNameFormat));
        if (m_file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly)) {
            m_lastFileMs = when.toMSecsSinceEpoch();
            return true;
        }
        if (!m_file.exists())
            return false;
    }
    return false;
}

bool ZTLogger::writeBatch(const std::deque<Entry>& batch)
{
    for (const Entry& e : batch) {
        checkFileCount();
        if (!m_file.isOpen() && !openNewFile())
            return false;
        if (e.text.isEmpty())
            continue;
        QTextStream out(&m_file);
        out.setCodec("UTF-8");
        out << QDateTime::fromMSecsSinceEpoch(e.timeMs).toString("yyyy.MM.dd_hh.mm.ss.zzz") << '\t' << "LEVEL_"
            << e.type << '\t' << e.file << ':' << e.line << " in " << e.function << '\t' << e.text << "\r\n";
        out.flush();
        if (m_file.size() >= m_maxSize)
            m_file.close();
    }
    return true;
}

void ZTLogger::threadWrite()
{
    pthread_setname_np(pthread_self(), "log writer");
    for (;;) {
        std::deque<Entry> batch;
        bool stopping = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_stop.load(); });
            batch.swap(m_queue);
            stopping = m_stop;
        }
        // On stop the handler no longer accepts entries, so this batch is the last.
        if (batch.size() < kMaxBatch && !writeBatch(batch)) {
            qWarning("open logfile failed.");
            std::lock_guard<std::mutex> lock(m_mutex);
            m_accepting = false;
            m_queue.clear();
            return;
        }
        if (stopping)
            return;
    }
}
