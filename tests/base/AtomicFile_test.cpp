// Replacing a file atomically, the disk synced before the rename or after
// it (on a thread that holds an AtomicFile::DeferSync): the same content and
// permissions either way, and a failed write leaves no temporary file.
#include "base/AtomicFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>

#include <optional>

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

TEST(AtomicFile, ReplacesContentKeepsOrSetsPermissionsAndSyncsNowOrLater)
{
    testsupport::TempHome home;
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const QFileDevice::Permissions shared = ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    const QFileDevice::Permissions ownerGroupOther(0x7077); // not the "user" bits, which repeat the owner's
    struct Case {
        const char* name;
        bool existing;
        AtomicFile::Access access;
        QFileDevice::Permissions expected;
    };
    const Case cases[] = {
        { "existing file keeps its permissions", true, AtomicFile::Access::Default, shared },
        { "owner-only file", true, AtomicFile::Access::OwnerOnly, ownerOnly },
        { "new file in a new folder", false, AtomicFile::Access::Default, {} },
    };
    for (const bool deferred : { false, true }) {
        QStringList toSync;
        std::optional<AtomicFile::DeferSync> defer;
        if (deferred)
            defer.emplace([&](const QString& path) { toSync << path; });
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (deferred ? ", sync deferred" : ", synced first"));
            const QString folder = home.savePath() + (deferred ? "/later/" : "/now/") + c.name;
            const QString path = folder + "/state.json";
            if (c.existing) {
                ASSERT_TRUE(testsupport::writeFile(path, "old"));
                ASSERT_TRUE(QFile::setPermissions(path, shared));
            }
            QString error;
            ASSERT_TRUE(AtomicFile::write(path, "new", &error, c.access)) << error.toStdString();
            EXPECT_EQ(contentOf(path), QByteArray("new"));
            if (c.expected) {
                EXPECT_EQ(QFile::permissions(path) & ownerGroupOther, c.expected);
            }
            // No temporary file is left beside it.
            EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList { "state.json" });
            EXPECT_TRUE(AtomicFile::sync(path));
        }
        EXPECT_EQ(toSync.size(), deferred ? 3 : 0);
    }
}

TEST(AtomicFile, AWriteThatFailsSaysWhyAndLeavesNothingBehind)
{
    testsupport::TempHome home;
    // A folder where the file should be: it cannot be replaced.
    const QString path = home.savePath() + "/state.json";
    ASSERT_TRUE(testsupport::writeFile(path + "/inside", "old"));
    for (const bool deferred : { false, true }) {
        SCOPED_TRACE(deferred ? "sync deferred" : "synced first");
        QStringList toSync;
        std::optional<AtomicFile::DeferSync> defer;
        if (deferred)
            defer.emplace([&](const QString& written) { toSync << written; });
        QString error;
        EXPECT_FALSE(AtomicFile::write(path, "new", &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(toSync.isEmpty());
        EXPECT_EQ(contentOf(path + "/inside"), QByteArray("old"));
        EXPECT_EQ(
            QDir(home.savePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "state.json" });
    }
}

} // namespace
