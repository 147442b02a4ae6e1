#include "TestSupport.h"
#include "base/JsonFile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>

TEST(JsonFile, SavesAndLoadsCreatingFolders)
{
    testsupport::TempHome home;
    const QString path = home.savePath() + "/a/b/state.json";
    QJsonObject obj { { "data", QJsonArray { 1, 2 } }, { "name", "x" } };
    ASSERT_TRUE(JsonFile::save(path, obj));
    bool ok = false;
    EXPECT_EQ(JsonFile::load(path, &ok), obj);
    EXPECT_TRUE(ok);
}

TEST(JsonFile, UnreadableOrBrokenTextReadsEmptyAndNotOk)
{
    testsupport::TempHome home;
    const QString missing = home.savePath() + "/missing.json";
    const QString broken = home.savePath() + "/broken.json";
    const QString array = home.savePath() + "/array.json";
    for (auto [path, text] : { std::pair { broken, QByteArray("{\"a\": ") }, std::pair { array, QByteArray("[1]") } }) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    for (const QString& p : { missing, broken, array }) {
        bool ok = true;
        EXPECT_TRUE(JsonFile::load(p, &ok).isEmpty()) << p.toStdString();
        EXPECT_FALSE(ok) << p.toStdString();
    }
}
