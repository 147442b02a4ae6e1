// The source groups as the control API sees them: adding, changing, removing
// and showing groups, the listing of all groups, and the sources file that
// keeps them across starts. No discovery runs here.
#include "TestSupport.h"
#include "base/JsonFile.h"
#include "sources/SourceManager.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonObject parse(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

QString show(const QJsonObject& obj)
{
    return QString::fromUtf8(QJsonDocument(obj).toJson(QJsonDocument::Compact));
}

const char* const kDefaultGroupFile = R"({"disc_id":"1","name":"auto-discovery","disc_type":"Auto",
    "auto_groups":"public","server_enable":false,"server_ip":"","manual_groups":"","manual_ips":""})";

class SourceGroups : public ::testing::Test {
protected:
    QString filePath() const { return home.savePath() + "/sources.json"; }

    // The saved file, once the queued save has run and it equals `data`.
    bool fileHolds(const QJsonArray& data)
    {
        const QJsonObject expected { { "data", data } };
        return testsupport::waitFor([&] { return JsonFile::load(filePath()) == expected; }, 2000);
    }

    QStringList listedIds(SourceManager& m)
    {
        QStringList ids;
        for (const QJsonValue& group : m.sourcesToJson().value("data").toArray())
            ids << group.toObject().value("disc_id").toString();
        return ids;
    }

    testsupport::TempHome home;
    SourceManager manager;
};

} // namespace

TEST_F(SourceGroups, FirstStartOffersTheDefaultGroup)
{
    manager.load();
    EXPECT_EQ(manager.getSourceList(parse(R"({"disc_id":"1"})")),
        parse(R"({"result":"ok","data":{"disc_id":"1","disc_name":"auto-discovery","disc_type":"Auto",
            "group":["public"],"discovery_enable":false,"discovery_ip":""}})"));
    EXPECT_EQ(manager.sourcesToJson(),
        parse(R"({"result":"ok","data":[{"disc_id":"1","disc_name":"auto-discovery","sources":[]}]})"));
    EXPECT_EQ(manager.getSourceList(parse("{}")), parse(R"({"result":"error"})"));
    EXPECT_EQ(manager.getSourceList(parse(R"({"disc_id":"99"})")), parse(R"({"result":"ok","data":""})"));
    EXPECT_FALSE(QFile::exists(filePath())); // nothing changed, nothing written
}

TEST_F(SourceGroups, AddKeepsTheListsAsTheRequestGivesThem)
{
    struct Case {
        const char* request;
        const char* shown; // getSourceList "data"
        const char* stored; // the group's object in the file
    };
    const Case cases[] = {
        { R"({"disc_name":"studio","disc_type":"Auto","group":["public",null,7],
              "discovery_enable":true,"discovery_ip":"10.1.1.1"})",
            R"({"disc_id":"2","disc_name":"studio","disc_type":"Auto","group":["public",""],
              "discovery_enable":true,"discovery_ip":"10.1.1.1"})",
            R"({"disc_id":"2","name":"studio","disc_type":"Auto","auto_groups":"public,","server_enable":true,
              "server_ip":"10.1.1.1","manual_groups":"","manual_ips":""})" },
        { R"({"disc_name":"cams","disc_type":"Manual","group":["cams",""],"ip":["10.0.0.5",""]})",
            R"({"disc_id":"3","disc_name":"cams","disc_type":"Manual","group":["cams"],"ip":["10.0.0.5"]})",
            R"({"disc_id":"3","name":"cams","disc_type":"Manual","auto_groups":"","server_enable":false,
              "server_ip":"","manual_groups":"cams","manual_ips":"10.0.0.5"})" },
        { R"({"disc_name":"loose","disc_type":"Manual","group":[],"ip":"10.0.0.9"})",
            R"({"disc_id":"4","disc_name":"loose","disc_type":"Manual","group":[],"ip":[]})",
            R"({"disc_id":"4","name":"loose","disc_type":"Manual","auto_groups":"","server_enable":false,
              "server_ip":"","manual_groups":"","manual_ips":""})" },
        { R"({"disc_name":"other","disc_type":"Custom"})",
            R"({"disc_id":"5","disc_name":"other","disc_type":"Custom"})",
            R"({"disc_id":"5","name":"other","disc_type":"Custom","auto_groups":"","server_enable":false,
              "server_ip":"","manual_groups":"","manual_ips":""})" },
    };
    QJsonArray stored { parse(kDefaultGroupFile) };
    for (const Case& c : cases) {
        QString error;
        ASSERT_TRUE(manager.addSourceList(parse(c.request), error)) << c.request;
        EXPECT_TRUE(error.isEmpty());
        const QJsonObject shown = parse(c.shown);
        EXPECT_EQ(manager.getSourceList(QJsonObject { { "disc_id", shown.value("disc_id") } }),
            (QJsonObject { { "result", "ok" }, { "data", shown } }))
            << c.request;
        stored.append(parse(c.stored));
    }
    EXPECT_TRUE(fileHolds(stored)) << show(JsonFile::load(filePath())).toStdString();
    QFile file(filePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("\n    ")); // indented
}

TEST_F(SourceGroups, RejectedAddsChangeNothingButMayUseUpAnId)
{
    struct Case {
        const char* request;
        const char* error;
    };
    const Case cases[] = {
        { R"({"disc_type":"Auto","group":[],"discovery_enable":false,"discovery_ip":""})", "" }, // no id used
        { R"({"disc_name":"auto-discovery","disc_type":"Auto","group":[],"discovery_enable":false,
              "discovery_ip":""})",
            "discovery.nameError" },
        { R"({"disc_name":"a","disc_type":"Auto","group":[],"discovery_enable":false})", "" },
        { R"({"disc_name":"b","disc_type":"Auto","group":"public","discovery_enable":false,"discovery_ip":""})", "" },
        { R"({"disc_name":"c","disc_type":"Manual","group":[]})", "" },
    };
    for (const Case& c : cases) {
        QString error;
        EXPECT_FALSE(manager.addSourceList(parse(c.request), error)) << c.request;
        EXPECT_EQ(error, c.error) << c.request;
    }
    EXPECT_EQ(listedIds(manager), QStringList { "1" });
    QString error;
    ASSERT_TRUE(manager.addSourceList(parse(R"({"disc_name":"a","disc_type":"Custom"})"), error));
    // Four of the five refusals came after the id was taken.
    EXPECT_EQ(listedIds(manager), (QStringList { "1", "6" }));
    EXPECT_TRUE(fileHolds(QJsonArray { parse(kDefaultGroupFile),
        parse(R"({"disc_id":"6","name":"a","disc_type":"Custom","auto_groups":"","server_enable":false,
            "server_ip":"","manual_groups":"","manual_ips":""})") }));
}

TEST_F(SourceGroups, ModifyChecksNamesAndKeepsGroupsWhole)
{
    QString error;
    ASSERT_TRUE(manager.addSourceList(
        parse(R"({"disc_name":"A","disc_type":"Auto","group":["x"],"discovery_enable":false,"discovery_ip":""})"),
        error));
    ASSERT_TRUE(manager.addSourceList(parse(R"({"disc_name":"B","disc_type":"Custom"})"), error));

    struct Case {
        const char* request;
        bool ok;
        const char* error;
        const char* shownAfter; // getSourceList "data" of group 2
    };
    const Case cases[] = {
        { R"({"disc_id":"2","disc_name":"B","disc_type":"Auto","group":["x"],"discovery_enable":false,
              "discovery_ip":""})",
            false, "discovery.nameError",
            R"({"disc_id":"2","disc_name":"A","disc_type":"Auto","group":["x"],"discovery_enable":false,
              "discovery_ip":""})" },
        { R"({"disc_id":"2","disc_name":"A","disc_type":"Auto","group":["x"],"discovery_enable":false,
              "discovery_ip":""})",
            true, "",
            R"({"disc_id":"2","disc_name":"A","disc_type":"Auto","group":["x"],"discovery_enable":false,
              "discovery_ip":""})" },
        { R"({"disc_id":"2","disc_name":"A2","disc_type":"Manual","group":[]})", false, "",
            R"({"disc_id":"2","disc_name":"A","disc_type":"Auto","group":["x"],"discovery_enable":false,
              "discovery_ip":""})" },
        { R"({"disc_id":"2","disc_name":"A2","disc_type":"Manual","group":["g",""],"ip":["10.0.0.1"]})", true, "",
            R"({"disc_id":"2","disc_name":"A2","disc_type":"Manual","group":["g"],"ip":["10.0.0.1"]})" },
        { R"({"disc_id":"2","disc_name":"A3","disc_type":"Auto","group":"x","discovery_enable":true,
              "discovery_ip":"1.2.3.4"})",
            true, "",
            R"({"disc_id":"2","disc_name":"A3","disc_type":"Auto","group":[],"discovery_enable":true,
              "discovery_ip":"1.2.3.4"})" },
        { R"({"disc_id":"2","disc_name":"A3"})", false, "",
            R"({"disc_id":"2","disc_name":"A3","disc_type":"Auto","group":[],"discovery_enable":true,
              "discovery_ip":"1.2.3.4"})" },
    };
    for (const Case& c : cases) {
        error.clear();
        EXPECT_EQ(manager.modifySourceList(parse(c.request), error), c.ok) << c.request;
        EXPECT_EQ(error, c.error) << c.request;
        EXPECT_EQ(manager.getSourceList(parse(R"({"disc_id":"2"})")),
            (QJsonObject { { "result", "ok" }, { "data", parse(c.shownAfter) } }))
            << c.request;
    }
    error.clear();
    EXPECT_FALSE(manager.modifySourceList(parse(R"({"disc_id":"99","disc_name":"new","disc_type":"Custom"})"), error));
    EXPECT_TRUE(error.isEmpty());
    // The manual lists survive a switch back to "Auto" in the file.
    EXPECT_TRUE(fileHolds(QJsonArray { parse(kDefaultGroupFile),
        parse(R"({"disc_id":"2","name":"A3","disc_type":"Auto","auto_groups":"","server_enable":true,
            "server_ip":"1.2.3.4","manual_groups":"g","manual_ips":"10.0.0.1"})"),
        parse(R"({"disc_id":"3","name":"B","disc_type":"Custom","auto_groups":"","server_enable":false,
            "server_ip":"","manual_groups":"","manual_ips":""})") }));
}

TEST_F(SourceGroups, RemovedGroupIsGoneForEveryRequestAtOnce)
{
    QString error;
    ASSERT_TRUE(manager.addSourceList(parse(R"({"disc_name":"A","disc_type":"Custom"})"), error));
    EXPECT_FALSE(manager.removeSourceList(parse("{}")));
    EXPECT_FALSE(manager.removeSourceList(parse(R"({"disc_id":"7"})")));
    ASSERT_TRUE(manager.removeSourceList(parse(R"({"disc_id":"2"})")));

    EXPECT_FALSE(manager.removeSourceList(parse(R"({"disc_id":"2"})")));
    EXPECT_FALSE(manager.modifySourceList(parse(R"({"disc_id":"2","disc_name":"A","disc_type":"Custom"})"), error));
    EXPECT_EQ(manager.getSourceList(parse(R"({"disc_id":"2"})")), parse(R"({"result":"ok","data":""})"));
    EXPECT_EQ(listedIds(manager), QStringList { "1" });
    EXPECT_TRUE(fileHolds(QJsonArray { parse(kDefaultGroupFile) }));
    // Its name is free again.
    EXPECT_TRUE(manager.addSourceList(parse(R"({"disc_name":"A","disc_type":"Custom"})"), error));
    EXPECT_EQ(listedIds(manager), (QStringList { "1", "3" }));
}

TEST_F(SourceGroups, LoadAddsToTheDefaultGroupAndRaisesTheCounter)
{
    ASSERT_TRUE(JsonFile::save(filePath(), parse(R"({"data":[
        {"disc_id":"2","name":"Two","disc_type":"Auto","auto_groups":"a,,b","server_enable":"yes"},
        {"disc_id":"10","name":"Ten","disc_type":"Manual","manual_groups":"m","manual_ips":"10.0.0.1,10.0.0.2"},
        {"disc_id":"5","name":"Five","disc_type":"Custom"},
        {"disc_id":12,"name":"Numeric id"},
        {"name":"No id"},
        {"disc_id":"x7","name":"Letters"}]})")));
    manager.load();

    // Numeric order, a non-number counting as 0; the numeric and missing ids are skipped.
    EXPECT_EQ(listedIds(manager), (QStringList { "x7", "1", "2", "5", "10" }));
    EXPECT_EQ(manager.getSourceList(parse(R"({"disc_id":"2"})")).value("data"),
        parse(R"({"disc_id":"2","disc_name":"Two","disc_type":"Auto","group":["a","","b"],
            "discovery_enable":false,"discovery_ip":""})"));
    EXPECT_EQ(manager.getSourceList(parse(R"({"disc_id":"10"})")).value("data"),
        parse(R"({"disc_id":"10","disc_name":"Ten","disc_type":"Manual","group":["m"],
            "ip":["10.0.0.1","10.0.0.2"]})"));
    QString error;
    ASSERT_TRUE(manager.addSourceList(parse(R"({"disc_name":"next","disc_type":"Custom"})"), error));
    EXPECT_TRUE(listedIds(manager).contains("11"));
}

TEST_F(SourceGroups, DefaultGroupReturnsAfterItWasRemovedAndAfterABrokenFile)
{
    ASSERT_TRUE(manager.removeSourceList(parse(R"({"disc_id":"1"})")));
    ASSERT_TRUE(fileHolds(QJsonArray {}));
    {
        SourceManager restarted;
        restarted.load();
        EXPECT_EQ(listedIds(restarted), QStringList { "1" });
    }

    QFile file(filePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("{\"data\": [");
    file.close();
    SourceManager restarted;
    restarted.load();
    EXPECT_EQ(listedIds(restarted), QStringList { "1" });
    QString error;
    ASSERT_TRUE(restarted.addSourceList(parse(R"({"disc_name":"n","disc_type":"Custom"})"), error));
    EXPECT_EQ(listedIds(restarted), (QStringList { "1", "2" }));
}
