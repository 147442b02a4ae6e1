// The logger replaces the process's message handler, so it is tested in its
// own executable, and every test restores Qt's default handler when done.
#include "TestSupport.h"
#include "base/ZTLogger.h"

#include <gtest/gtest.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

namespace {

class ZTLoggerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        logger->logUninit();
        logger->setBacklogLimits(ZTLogger::kMaxBacklogEntries, ZTLogger::kMaxBacklogBytes);
        qInstallMessageHandler(nullptr);
    }

    QString dir() const { return m_dir.path() + "/"; }
    QString levelFile() const { return dir() + "settings.ini"; }

    void setLevelFile(const QVariant& level)
    {
        QSettings settings(levelFile(), QSettings::IniFormat);
        if (level.isValid())
            settings.setValue("settings/level", level);
        else
            settings.setValue("settings/other", 1);
    }

    QStringList logFiles() const { return QDir(dir()).entryList({ "log_*.log" }, QDir::Files, QDir::Name); }

    // Every line of every log file, oldest file first.
    QStringList lines() const
    {
        QStringList all;
        for (const QString& name : logFiles()) {
            QFile f(dir() + name);
            f.open(QIODevice::ReadOnly);
            for (const QString& line : QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts))
                all << line;
        }
        return all;
    }

    QStringList linesWith(const QString& marker) const { return lines().filter(marker); }

    ZTLogger* logger = ZTLogger::getInstance();
    QTemporaryDir m_dir;
};

TEST_F(ZTLoggerTest, WritesOneFormattedLinePerMessageIntoANewTimeNamedFile)
{
    for (const bool trailingSlash : { false, true }) {
        QTemporaryDir where;
        const QString path = trailingSlash ? where.path() + "/" : where.path();
        logger->logInit(path, 0x400000);
        qDebug("first %s", "marker");
        qInfo("%s", ""); // empty text: no line
        qWarning() << "second marker" << 42;
        qDebug("汉字 marker");
        logger->logUninit();
        qInstallMessageHandler(nullptr);

        const QStringList files = QDir(where.path()).entryList({ "log_*" }, QDir::Files);
        ASSERT_EQ(files.size(), 1) << files.join(',').toStdString();
        EXPECT_TRUE(QRegularExpression(R"(^log_\d{8}_\d{6}\.\d{3}\.log$)").match(files[0]).hasMatch());

        QFile f(where.path() + "/" + files[0]);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        const QStringList written = text.split("\r\n", Qt::SkipEmptyParts);
        ASSERT_EQ(written.size(), 3) << text.toStdString();
        EXPECT_TRUE(text.endsWith("\r\n"));
        const QRegularExpression line(
            R"(^\d{4}\.\d\d\.\d\d_\d\d\.\d\d\.\d\d\.\d{3}\tLEVEL_(\d)\t.*ZTLogger_test\.cpp:\d+ in .*WritesOneFormattedLine.*\t(.*)$)");
        const QStringList expected { "0|first marker", "1|second marker 42", "0|汉字 marker" };
        for (int i = 0; i < 3; ++i) {
            const auto m = line.match(written[i]);
            ASSERT_TRUE(m.hasMatch()) << written[i].toStdString();
            EXPECT_EQ(m.captured(1) + "|" + m.captured(2), expected[i]);
        }
        // No level file yet: one is made that lets everything through.
        EXPECT_EQ(QSettings(where.path() + "/settings.ini", QSettings::IniFormat).value("settings/level").toInt(), 0);
    }
}

TEST_F(ZTLoggerTest, LevelFileDecidesWhichMessageTypesAreWritten)
{
    struct Case {
        QVariant level; // invalid: the file exists without the key
        int threshold;
        QString written; // of d(ebug) w(arning) c(ritical) i(nfo)
    };
    const std::vector<Case> cases {
        { 0, 0, "dwci" },
        { 1, 1, "wci" },
        { 2, 2, "ci" },
        { 3, 3, "i" },
        { 4, 4, "i" },
        { 5, 5, "" },
        { QVariant(), 2, "ci" },
        { "high", 0, "dwci" },
    };
    for (const Case& c : cases) {
        QTemporaryDir where;
        QDir().mkpath(where.path());
        {
            QSettings settings(where.path() + "/settings.ini", QSettings::IniFormat);
            settings.setValue(c.level.isValid() ? "settings/level" : "settings/other", c.level.isValid() ? c.level : 1);
        }
        logger->logInit(where.path(), 0x400000);
        EXPECT_EQ(logger->level(), c.threshold);
        qDebug("type d");
        qWarning("type w");
        qCritical("type c");
        qInfo("type i");
        logger->logUninit();
        qInstallMessageHandler(nullptr);

        QString written;
        for (const QString& name : QDir(where.path()).entryList({ "log_*.log" }, QDir::Files, QDir::Name)) {
            QFile f(where.path() + "/" + name);
            f.open(QIODevice::ReadOnly);
            for (const QByteArray& l : f.readAll().split('\n'))
                if (l.contains("\ttype "))
                    written += QString::fromUtf8(l).trimmed().right(1);
        }
        EXPECT_EQ(written, c.written) << "level " << c.level.toString().toStdString();
    }
}

TEST_F(ZTLoggerTest, FollowsTheLevelFileAcrossReplacementAndDeletion)
{
    logger->logInit(dir(), 0x400000);
    ASSERT_EQ(logger->level(), 0);

    // QSettings saves by writing a new file and renaming it over the old one.
    setLevelFile(4);
    ASSERT_TRUE(testsupport::waitFor([&] { return logger->level() == 4; }));
    qDebug("hidden debug");
    qInfo("shown info");

    setLevelFile(1);
    ASSERT_TRUE(testsupport::waitFor([&] { return logger->level() == 1; })) << "replaced file no longer watched";

    ASSERT_TRUE(QFile::remove(levelFile()));
    ASSERT_TRUE(testsupport::waitFor([&] { return logger->level() == 0; }));
    EXPECT_TRUE(testsupport::waitFor([&] { return QFile::exists(levelFile()); }));
    EXPECT_EQ(QSettings(levelFile(), QSettings::IniFormat).value("settings/level").toInt(), 0);

    // An editor's save: new file renamed over the name.
    {
        QFile tmp(dir() + "settings.ini.new");
        ASSERT_TRUE(tmp.open(QIODevice::WriteOnly));
        tmp.write("[settings]\nlevel=3\n");
    }
    ASSERT_EQ(::rename(qPrintable(dir() + "settings.ini.new"), qPrintable(levelFile())), 0);
    EXPECT_TRUE(testsupport::waitFor([&] { return logger->level() == 3; })) << "recreated file no longer watched";

    logger->logUninit();
    EXPECT_TRUE(linesWith("hidden debug").isEmpty());
    EXPECT_EQ(linesWith("shown info").size(), 1);
}

TEST_F(ZTLoggerTest, MaximumFileSizeIsClampedToTenMebibytes)
{
    const std::vector<std::pair<int, int>> cases { { 0x400000, 0x400000 }, { 0xA00000, 0xA00000 },
        { 0xA00001, 0x400000 }, { -1, 0x400000 }, { 0, 0 }, { 1000, 1000 } };
    for (const auto& [given, used] : cases) {
        logger->logInit(dir(), given);
        EXPECT_EQ(logger->maximumFileSize(), used) << given;
        logger->logUninit();
    }
}

TEST_F(ZTLoggerTest, RollsOverAfterTheLineThatReachesTheLimit)
{
    setLevelFile(4); // info only: no stray debug output in the files
    const int limit = 2000;
    logger->logInit(dir(), limit);
    for (int i = 0; i < 20; ++i)
        qInfo("roll %02d %s", i, QByteArray(100, 'x').constData());
    logger->logUninit();

    const QStringList files = logFiles();
    ASSERT_GE(files.size(), 2);
    ASSERT_LE(files.size(), 4) << "pruning would hide lines";
    QStringList seen;
    for (int i = 0; i < files.size(); ++i) {
        QFile f(dir() + files[i]);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const QList<QByteArray> fileLines = bytes.split('\n');
        if (i + 1 < files.size()) {
            const int lastLine = fileLines.at(fileLines.size() - 2).size() + 1;
            EXPECT_GE(bytes.size(), limit) << files[i].toStdString();
            EXPECT_LT(bytes.size() - lastLine, limit) << files[i].toStdString();
        }
        for (const QByteArray& l : fileLines)
            if (l.contains("roll "))
                seen << QString::fromUtf8(l.mid(l.indexOf("roll ") + 5, 2));
    }
    QStringList expected;
    for (int i = 0; i < 20; ++i)
        expected << QString("%1").arg(i, 2, 10, QChar('0'));
    EXPECT_EQ(seen, expected);
}

TEST_F(ZTLoggerTest, LimitZeroGivesEveryLineItsOwnFile)
{
    setLevelFile(4);
    logger->logInit(dir(), 0);
    for (int i = 0; i < 100; ++i)
        qInfo("zero %03d", i);
    logger->logUninit();
    // Pruning before each line leaves the first file and the three newest,
    // and the line opens one more. Files made within the same millisecond
    // must neither overwrite each other nor sort out of order, so each holds
    // its own line and the newest lines survive.
    const QStringList files = logFiles();
    ASSERT_EQ(files.size(), 5) << files.join(',').toStdString();
    QStringList order;
    for (const QString& name : files) {
        QFile f(dir() + name);
        f.open(QIODevice::ReadOnly);
        const QStringList content = QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
        ASSERT_EQ(content.size(), 1) << name.toStdString();
        order << content[0].right(3);
    }
    EXPECT_EQ(order, (QStringList { "000", "096", "097", "098", "099" }));
}

TEST_F(ZTLoggerTest, PruningKeepsTheOldestAndTheThreeNewest)
{
    const std::vector<std::pair<int, QStringList>> cases {
        { 7, { "0", "4", "5", "6" } },
        { 4, { "0", "1", "2", "3" } },
    };
    for (const auto& [count, kept] : cases) {
        QTemporaryDir where;
        const QString d = where.path() + "/";
        {
            QSettings(d + "settings.ini", QSettings::IniFormat).setValue("settings/level", 5); // write nothing
        }
        for (int i = 0; i < count; ++i) {
            QFile f(d + QString("log_20240101_00000%1.000.log").arg(i));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        for (const char* other : { "log_notes.txt", "mylog_1.log" }) {
            QFile f(d + QString(other));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        logger->logInit(d, 0x400000);
        QStringList left;
        for (const QString& name : QDir(d).entryList({ "log_*.log" }, QDir::Files, QDir::Name))
            left << name.mid(18, 1);
        EXPECT_EQ(left, kept) << count;
        EXPECT_TRUE(QFile::exists(d + "log_notes.txt"));
        EXPECT_TRUE(QFile::exists(d + "mylog_1.log"));
        logger->logUninit();
    }
}

TEST_F(ZTLoggerTest, StopWritesEverythingQueuedAndThenAcceptsNothing)
{
    logger->logInit(dir(), 0x400000);
    std::vector<std::thread> writers;
    writers.reserve(4);
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 1000; ++i)
                qDebug("queued %d %04d", t, i);
        });
    for (auto& w : writers)
        w.join();
    logger->logUninit(); // straight away: most entries are still queued

    const QStringList written = linesWith("queued ");
    ASSERT_EQ(written.size(), 4000);
    for (int t = 0; t < 4; ++t) {
        const QStringList mine = written.filter(QString("queued %1 ").arg(t));
        ASSERT_EQ(mine.size(), 1000);
        for (int i = 0; i < 1000; ++i)
            ASSERT_TRUE(mine[i].endsWith(QString("%1").arg(i, 4, 10, QChar('0')))) << mine[i].toStdString();
    }

    // Messages after the stop are dropped, not kept for a writer that might
    // come later.
    qDebug("after stop");
    QTemporaryDir next;
    logger->logInit(next.path(), 0x400000);
    qDebug("next run");
    logger->logUninit();
    QString nextText;
    for (const QString& name : QDir(next.path()).entryList({ "log_*.log" }, QDir::Files)) {
        QFile f(next.path() + "/" + name);
        f.open(QIODevice::ReadOnly);
        nextText += QString::fromUtf8(f.readAll());
    }
    EXPECT_TRUE(nextText.contains("next run"));
    EXPECT_FALSE(nextText.contains("after stop"));
    EXPECT_TRUE(linesWith("after stop").isEmpty());
}

// Several threads logging as fast as they can, each numbering its lines;
// returns per thread the numbers found in the files, in file order.
std::vector<std::vector<int>> floodAndRead(int threads, int perThread, const std::function<QStringList()>& lines)
{
    std::vector<std::thread> writers;
    writers.reserve(size_t(threads));
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([t, perThread] {
            for (int i = 0; i < perThread; ++i)
                qInfo("flood %d %06d", t, i);
        });
    for (auto& w : writers)
        w.join();
    ZTLogger::getInstance()->logUninit();
    std::vector<std::vector<int>> seen(static_cast<size_t>(threads));
    const QRegularExpression flood(R"(\tflood (\d+) (\d{6})$)");
    for (const QString& line : lines()) {
        const auto m = flood.match(line);
        if (m.hasMatch())
            seen.at(size_t(m.captured(1).toInt())).push_back(m.captured(2).toInt());
    }
    return seen;
}

TEST_F(ZTLoggerTest, ABurstBelowTheBacklogBoundIsWrittenWhole)
{
    // Request lines under load used to vanish in whole batches.
    setLevelFile(4);
    logger->logInit(dir(), 0xA00000);
    const int threads = 4, perThread = 12500;
    const auto seen = floodAndRead(threads, perThread, [this] { return lines(); });
    for (int t = 0; t < threads; ++t) {
        ASSERT_EQ(int(seen[size_t(t)].size()), perThread) << "thread " << t;
        for (int i = 0; i < perThread; ++i)
            ASSERT_EQ(seen[size_t(t)][size_t(i)], i) << "thread " << t;
    }
    EXPECT_TRUE(linesWith("log lines were dropped").isEmpty());
}

TEST_F(ZTLoggerTest, AFullBacklogDropsNewLinesAndLogsHowMany)
{
    setLevelFile(4);
    logger->setBacklogLimits(50, ZTLogger::kMaxBacklogBytes);
    logger->logInit(dir(), 0xA00000);
    const int threads = 8, perThread = 2000;
    const auto seen = floodAndRead(threads, perThread, [this] { return lines(); });

    int written = 0;
    for (const auto& mine : seen) {
        written += int(mine.size());
        EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end())) << "lines kept their order";
    }
    int dropped = 0;
    const QRegularExpression notice(R"(\t(\d+) log lines were dropped: the log backlog was full$)");
    for (const QString& line : linesWith("log lines were dropped")) {
        const auto m = notice.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        dropped += m.captured(1).toInt();
    }
    EXPECT_GT(dropped, 0) << "eight threads outran a writer that may hold back fifty lines";
    EXPECT_EQ(written + dropped, threads * perThread) << "every line is either written or counted";
}

} // namespace
