#include "TestSupport.h"
#include "api/Credentials.h"
#include "api/UsersManager.h"
#include "base/Globals.h"
#include "base/JsonFile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>
#include <map>

namespace {

// Reads the database file behind the manager's back, as an attacker with a
// copy of it would.
class StoredRows {
public:
    explicit StoredRows(const QString& path)
    {
        m_db = QSqlDatabase::addDatabase("QSQLITE", "inspect");
        m_db.setDatabaseName(path);
        m_db.open();
    }
    ~StoredRows()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase("inspect");
    }
    // username -> {password, token}
    std::map<QString, std::pair<QString, QString>> rows()
    {
        std::map<QString, std::pair<QString, QString>> out;
        QSqlQuery q("SELECT username, password, token FROM usersInfo", m_db);
        while (q.next())
            out[q.value(0).toString()] = { q.value(1).toString(), q.value(2).toString() };
        return out;
    }
    bool exec(const QString& sql)
    {
        QSqlQuery q(m_db);
        return q.exec(sql);
    }

private:
    QSqlDatabase m_db;
};

class UsersManagerTest : public ::testing::Test {
protected:
    QString dbPath() const { return g_savePath + "/user/users.db"; }

    QJsonObject login(UsersManager& users, const QString& name, const QString& password)
    {
        return users.userLogin(
            QJsonObject { { "username", name }, { "password", password }, { "remoteAddr", "127.0.0.1" } });
    }
    bool add(UsersManager& users, const QString& name, const QString& role = "operator")
    {
        QString msg;
        return users.addUserConfig(QJsonObject { { "username", name }, { "password", name + "-pw" },
                                       { "alias", name + "-alias" }, { "role", role } },
            msg);
    }
    int idOf(UsersManager& users, const QString& name)
    {
        const QJsonArray list = users.querySpecifiedList(QJsonObject { { "search", name } })
                                    .value("data")
                                    .toObject()
                                    .value("list")
                                    .toArray();
        for (const QJsonValue& v : list) {
            if (v.toObject().value("username").toString() == name)
                return v.toObject().value("id").toInt();
        }
        return -1;
    }

    testsupport::TempHome home;
};

} // namespace

TEST_F(UsersManagerTest, FirstStartCreatesDefaultAdminStoredHashed)
{
    UsersManager users;
    users.initDataBase();
    EXPECT_TRUE(QFile::exists(dbPath()));
    bool ok = false;
    EXPECT_EQ(JsonFile::load(g_savePath + "/user/changed.json", &ok), QJsonObject({ { "changed", false } }));
    EXPECT_TRUE(ok);
    EXPECT_EQ(users.userCount(), 1);

    const QJsonObject reply = login(users, "admin", "vexmo");
    ASSERT_EQ(reply.value("result").toString(), "ok");
    const QJsonObject data = reply.value("data").toObject();
    EXPECT_EQ(data.value("username").toString(), "admin");
    EXPECT_EQ(data.value("alias").toString(), "admin");
    EXPECT_EQ(data.value("role").toString(), "admin");
    EXPECT_EQ(data.value("changed"), QJsonValue(false));
    const QString token = data.value("token").toString();
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{32}$").match(token).hasMatch()) << token.toStdString();

    StoredRows stored(dbPath());
    const auto row = stored.rows().at("admin");
    EXPECT_TRUE(Credentials::isPasswordHash(row.first));
    EXPECT_FALSE(row.first.contains("vexmo"));
    EXPECT_EQ(row.second, Credentials::tokenDigest(token)); // only the digest is kept
}

TEST_F(UsersManagerTest, LoginLogoutAndSessionChecks)
{
    UsersManager users;
    users.initDataBase();

    // Refused logins: empty fields say nothing more, wrong credentials say the same thing either way.
    const QJsonObject bare { { "result", "error" } };
    const QJsonObject wrong { { "result", "error" }, { "msg", "用户名或密码错误" } };
    EXPECT_EQ(login(users, "admin", ""), bare);
    EXPECT_EQ(login(users, "", "vexmo"), bare);
    EXPECT_EQ(login(users, "admin", "VEXMO"), wrong);
    EXPECT_EQ(login(users, "nobody", "vexmo"), wrong);

    const QString first = login(users, "admin", "vexmo").value("data").toObject().value("token").toString();
    const QString second = login(users, "admin", "vexmo").value("data").toObject().value("token").toString();
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(first, second);

    QString msg;
    EXPECT_FALSE(users.checkSessionToken("admin", first, msg)); // replaced by the later login
    EXPECT_EQ(msg, "Token.Error");
    for (const auto& [name, token] : { std::pair<QString, QString> { "", second }, { "admin", "" }, { "other", second },
             { "admin", Credentials::tokenDigest(second) } }) {
        QString m;
        EXPECT_FALSE(users.checkSessionToken(name, token, m)) << name.toStdString() << " " << token.toStdString();
        EXPECT_EQ(m, "Token.Error");
    }
    msg.clear();
    EXPECT_TRUE(users.checkSessionToken("admin", second, msg));
    EXPECT_TRUE(msg.isEmpty());
    EXPECT_EQ(users.checkSessionToken("admin", second),
        QJsonObject({ { "result", "ok" }, { "data", QJsonObject { { "username", "admin" }, { "alias", "admin" } } } }));
    EXPECT_EQ(users.getUserInfo("admin", second).value("data").toObject(),
        QJsonObject({ { "username", "admin" }, { "alias", "admin" }, { "role", "admin" }, { "phone", "" },
            { "descript", "" } }));

    EXPECT_TRUE(users.removeSessionToken("admin", first, msg)); // a stale token ends nothing
    EXPECT_TRUE(users.checkSessionToken("admin", second, msg));
    EXPECT_FALSE(users.removeSessionToken("admin", "", msg));
    EXPECT_TRUE(users.removeSessionToken("admin", second, msg));
    EXPECT_FALSE(users.checkSessionToken("admin", second, msg));
    EXPECT_EQ(users.checkSessionToken("admin", second), bare);
}

TEST_F(UsersManagerTest, PlainTextRowsAreConvertedAtStart)
{
    // A database as earlier versions left it: passwords and a session token in plain text.
    QDir().mkpath(g_savePath + "/user");
    const QString oldToken = "0123456789abcdef0123456789abcdef";
    {
        StoredRows old(dbPath());
        ASSERT_TRUE(old.exec("CREATE TABLE usersInfo (id INTEGER PRIMARY KEY AUTOINCREMENT, username VARCHAR(40) NOT "
                             "NULL, password VARCHAR(40) NOT NULL, passwordCount INTEGER NOT NULL, alias VARCHAR(40) "
                             "NOT NULL, role VARCHAR(40) NOT NULL, phone VARCHAR(40) NOT NULL, descript VARCHAR(40) "
                             "NOT NULL, create_time VARCHAR(40) NOT NULL, token VARCHAR(100) NOT NULL)"));
        ASSERT_TRUE(old.exec("INSERT INTO usersInfo VALUES (1,'admin','vexmo',1,'admin','admin','','','0','')"));
        ASSERT_TRUE(old.exec(
            QString("INSERT INTO usersInfo VALUES (2,'bob','pa$$',1,'Bob','operator','','','0','%1')").arg(oldToken)));
    }
    std::map<QString, std::pair<QString, QString>> converted;
    {
        UsersManager users;
        users.initDataBase();
        EXPECT_EQ(users.userCount(), 2);
        StoredRows stored(dbPath());
        converted = stored.rows();
        for (const auto& [name, row] : converted) {
            SCOPED_TRACE(name.toStdString());
            EXPECT_TRUE(Credentials::isPasswordHash(row.first));
        }
        EXPECT_EQ(converted.at("bob").second, Credentials::tokenDigest(oldToken));
        QString msg;
        EXPECT_TRUE(users.checkSessionToken("bob", oldToken, msg)); // the open session survives
        EXPECT_EQ(login(users, "bob", "pa$$").value("result").toString(), "ok");
        EXPECT_EQ(login(users, "admin", "vexmo").value("result").toString(), "ok");
        EXPECT_EQ(login(users, "admin", converted.at("admin").first).value("result").toString(), "error");
    }
    // A second start leaves hashed rows as they are.
    UsersManager again;
    again.initDataBase();
    StoredRows stored(dbPath());
    const auto rows = stored.rows();
    EXPECT_EQ(rows.at("admin").first, converted.at("admin").first);
    EXPECT_EQ(rows.at("bob").first, converted.at("bob").first);
}

TEST_F(UsersManagerTest, ListPagesAndSearchesWithoutSecrets)
{
    UsersManager users;
    users.initDataBase();
    for (int i = 1; i <= 7; ++i)
        ASSERT_TRUE(add(users, QString("user%1").arg(i)));
    ASSERT_TRUE(add(users, "o'neil"));
    ASSERT_EQ(users.userCount(), 9);
    login(users, "admin", "vexmo");

    auto names = [&](const QJsonObject& request) {
        const QJsonObject data = users.querySpecifiedList(request).value("data").toObject();
        EXPECT_EQ(data.value("count").toInt(), 9);
        QStringList out;
        for (const QJsonValue& v : data.value("list").toArray()) {
            const QJsonObject row = v.toObject();
            EXPECT_EQ(row.keys(),
                QStringList(
                    { "alias", "create_time", "descript", "id", "passwordCount", "phone", "role", "username" }));
            out << row.value("username").toString();
        }
        return out;
    };
    // Rows in table order: admin, user1 .. user7, o'neil.
    const QStringList secondPage { "user3", "user4", "user5" };
    EXPECT_EQ(names({ { "limit", 3 }, { "page", 2 } }), secondPage);
    EXPECT_EQ(names({ { "limit", "3" }, { "page", "2" } }), secondPage);
    EXPECT_EQ(names({ { "limit", 4 }, { "page", 3 } }), QStringList({ "o'neil" }));
    EXPECT_EQ(names({ { "search", "o'neil" } }), QStringList({ "o'neil" }));
    EXPECT_EQ(names({ { "search", "user" }, { "limit", 1 }, { "page", 1 } }).size(), 7); // a search is not paged
    EXPECT_EQ(names({ { "search", "' OR 1=1 --" } }), QStringList());
    EXPECT_EQ(names({}), QStringList());
    EXPECT_EQ(names({ { "limit", "ten" }, { "page", 1 } }), QStringList());
    EXPECT_EQ(login(users, "o'neil", "o'neil-pw").value("result").toString(), "ok");
}

TEST_F(UsersManagerTest, AddAndModifyUsers)
{
    UsersManager users;
    users.initDataBase();
    QString msg;
    EXPECT_TRUE(add(users, "bob"));
    EXPECT_FALSE(users.addUserConfig(
        QJsonObject { { "username", "bob" }, { "password", "x" }, { "alias", "b" }, { "role", "r" } }, msg));
    EXPECT_EQ(msg, "user.nameError");
    for (const char* missing : { "username", "password", "alias", "role" }) {
        QJsonObject request { { "username", "carol" }, { "password", "x" }, { "alias", "c" }, { "role", "r" } };
        request.remove(missing);
        QString m;
        EXPECT_FALSE(users.addUserConfig(request, m)) << missing;
        EXPECT_TRUE(m.isEmpty());
    }
    EXPECT_EQ(users.userCount(), 2);
    EXPECT_FALSE(users.changed());

    EXPECT_FALSE(users.modifyUserConfig({ { "username", "nobody" }, { "alias", "x" } }));
    EXPECT_FALSE(users.modifyUserConfig({ { "alias", "x" } }));
    ASSERT_TRUE(users.modifyUserConfig({ { "username", "bob" }, { "password", "n3w" } }));
    EXPECT_EQ(login(users, "bob", "bob-pw").value("result").toString(), "error");
    EXPECT_EQ(login(users, "bob", "n3w").value("result").toString(), "ok");
    EXPECT_TRUE(users.changed());
    bool ok = false;
    EXPECT_EQ(JsonFile::load(g_savePath + "/user/changed.json", &ok).value("changed"), QJsonValue(true));
    {
        StoredRows stored(dbPath());
        EXPECT_TRUE(Credentials::isPasswordHash(stored.rows().at("bob").first));
    }

    ASSERT_TRUE(users.modifyUserConfig({ { "username", "bob" }, { "phone", "123" }, { "alias", "Bobby" } }));
    const QString token = login(users, "bob", "n3w").value("data").toObject().value("token").toString();
    EXPECT_EQ(users.getUserInfo("bob", token).value("data").toObject(),
        QJsonObject(
            { { "username", "bob" }, { "alias", "Bobby" }, { "role", "" }, { "phone", "123" }, { "descript", "" } }));
}

TEST_F(UsersManagerTest, EveryChangeIsSeenByTheNextCheck)
{
    // The check of each request reads a user once and keeps it; every kind
    // of change must show in the check right after it.
    UsersManager users;
    users.initDataBase();
    ASSERT_TRUE(add(users, "bob"));
    const QString token = login(users, "bob", "bob-pw").value("data").toObject().value("token").toString();
    const auto alias = [&] { return users.checkSessionToken("bob", token).value("data").toObject().value("alias"); };
    QString msg;
    ASSERT_TRUE(users.checkSessionToken("bob", token, msg));

    ASSERT_TRUE(users.modifyUserConfig({ { "username", "bob" }, { "alias", "Bobby" } }));
    EXPECT_EQ(alias(), QJsonValue("Bobby"));
    EXPECT_EQ(users.getUserInfo("bob", token).value("data").toObject().value("alias"), QJsonValue("Bobby"));

    ASSERT_TRUE(users.deleteUserConfig({ { "ids", QJsonArray { idOf(users, "bob") } } }));
    EXPECT_FALSE(users.checkSessionToken("bob", token, msg));
    EXPECT_EQ(users.getUserInfo("bob", token), QJsonObject({ { "result", "error" } }));

    // A new user of the same name has no session of the old one's.
    ASSERT_TRUE(add(users, "bob"));
    EXPECT_FALSE(users.checkSessionToken("bob", token, msg));
}

TEST_F(UsersManagerTest, RemovingUsersKeepsTheLastAdmin)
{
    UsersManager users;
    users.initDataBase();
    ASSERT_TRUE(add(users, "bob"));
    ASSERT_TRUE(add(users, "carol"));
    ASSERT_TRUE(add(users, "root2", "admin"));
    const int admin = idOf(users, "admin"), bob = idOf(users, "bob"), carol = idOf(users, "carol"),
              root2 = idOf(users, "root2");
    ASSERT_EQ(users.userCount(), 4);

    EXPECT_FALSE(users.deleteUserConfig({ { "ids", "1" } }));
    EXPECT_FALSE(users.deleteUserConfig({ { "ids", QJsonArray() } }));
    EXPECT_TRUE(users.deleteUserConfig({ { "ids", QJsonArray { QString::number(bob) } } })); // strings match nothing
    EXPECT_EQ(users.userCount(), 4);

    EXPECT_TRUE(users.deleteUserConfig({ { "ids", QJsonArray { bob, carol } } }));
    EXPECT_EQ(users.userCount(), 2);
    EXPECT_EQ(idOf(users, "bob"), -1);

    ASSERT_TRUE(add(users, "dave"));
    const int dave = idOf(users, "dave");
    // Every admin at once, or the only one left, is refused whole.
    EXPECT_FALSE(users.deleteUserConfig({ { "ids", QJsonArray { admin, root2, dave } } }));
    EXPECT_EQ(users.userCount(), 3);
    EXPECT_TRUE(users.deleteUserConfig({ { "ids", QJsonArray { admin } } }));
    EXPECT_FALSE(users.deleteUserConfig({ { "ids", QJsonArray { root2 } } }));
    EXPECT_NE(idOf(users, "root2"), -1);
    EXPECT_EQ(login(users, "root2", "root2-pw").value("result").toString(), "ok");
    EXPECT_EQ(users.userCount(), 2);
}

namespace {
QStringList g_log;
void collectLog(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_log << text;
}
} // namespace

TEST_F(UsersManagerTest, SecretsNeverReachTheLog)
{
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectLog);
    QStringList secrets { "vexmo", "Sup3rSecret", "wrong-guess", "plainpw" };
    {
        // Start from a plain-text row so the conversion is logged too.
        QDir().mkpath(g_savePath + "/user");
        StoredRows old(dbPath());
        old.exec("CREATE TABLE usersInfo (id INTEGER PRIMARY KEY AUTOINCREMENT, username VARCHAR(40) NOT NULL, "
                 "password VARCHAR(40) NOT NULL, passwordCount INTEGER NOT NULL, alias VARCHAR(40) NOT NULL, role "
                 "VARCHAR(40) NOT NULL, phone VARCHAR(40) NOT NULL, descript VARCHAR(40) NOT NULL, create_time "
                 "VARCHAR(40) NOT NULL, token VARCHAR(100) NOT NULL)");
        old.exec("INSERT INTO usersInfo VALUES (1,'admin','vexmo',1,'admin','admin','','','0','')");
        old.exec("INSERT INTO usersInfo VALUES (2,'eve','plainpw',1,'e','operator','','','0','')");
    }
    {
        UsersManager users;
        users.initDataBase();
        QString msg;
        users.addUserConfig(
            { { "username", "zed" }, { "password", "Sup3rSecret" }, { "alias", "z" }, { "role", "admin" } }, msg);
        login(users, "zed", "wrong-guess");
        const QString token = login(users, "zed", "Sup3rSecret").value("data").toObject().value("token").toString();
        secrets << token << Credentials::tokenDigest(token);
        users.checkSessionToken("zed", token, msg);
        users.modifyUserConfig({ { "username", "zed" }, { "password", "Sup3rSecret" } });
        users.deleteUserConfig({ { "ids", QJsonArray { 1, 3 } } });
        users.removeSessionToken("zed", token, msg);
    }
    qInstallMessageHandler(previous);
    EXPECT_FALSE(g_log.isEmpty()); // the conversion and the refused removal are logged
    for (const QString& line : g_log) {
        for (const QString& secret : secrets)
            EXPECT_FALSE(line.contains(secret)) << line.toStdString();
    }
}

// Five failed logins from one address within a minute shut that address out
// for a back-off that starts at one second and doubles up to a minute; the
// refusals cost no password check; other addresses and a later success are
// not held back, and a success clears the record.
TEST_F(UsersManagerTest, RepeatedLoginFailuresBackOffPerAddress)
{
    UsersManager users;
    users.initDataBase();
    qint64 now = 1000000;
    users.setClock([&now] { return now; });
    const auto from = [&](const char* address, const QString& password) {
        return users.userLogin({ { "username", "admin" }, { "password", password }, { "remoteAddr", address } })
            .value("result")
            .toString();
    };

    for (int i = 0; i < UsersManager::kMaxLoginFailures; ++i)
        ASSERT_EQ(from("10.0.0.1", "guess"), "error") << i;
    EXPECT_FALSE(users.beginLogin({ { "username", "admin" }, { "password", "vexmo" }, { "remoteAddr", "10.0.0.1" } })
                     .needsHash())
        << "a refusal must not check the password";
    EXPECT_EQ(from("10.0.0.1", "vexmo"), "error");
    EXPECT_EQ(from("10.0.0.2", "vexmo"), "ok");

    // Each failure after a back-off doubles it, up to a minute.
    qint64 expected = UsersManager::kFirstBackoffMs;
    for (int round = 0; round < 7; ++round) { // the seventh stays at the cap
        now += expected - 1;
        EXPECT_EQ(from("10.0.0.1", "vexmo"), "error") << "still blocked, round " << round;
        now += 1;
        EXPECT_EQ(from("10.0.0.1", "guess"), "error");
        expected = std::min(expected * 2, UsersManager::kMaxBackoffMs);
    }
    EXPECT_EQ(expected, UsersManager::kMaxBackoffMs);
    now += expected;
    EXPECT_EQ(from("10.0.0.1", "vexmo"), "ok");
    // The success cleared the record: four new failures do not block.
    for (int i = 0; i < UsersManager::kMaxLoginFailures - 1; ++i)
        EXPECT_EQ(from("10.0.0.1", "guess"), "error");
    EXPECT_EQ(from("10.0.0.1", "vexmo"), "ok");
    // Failures spread over more than a minute do not add up.
    for (int i = 0; i < UsersManager::kMaxLoginFailures + 1; ++i) {
        now += UsersManager::kFailureWindowMs / (UsersManager::kMaxLoginFailures - 1) + 1;
        EXPECT_EQ(from("10.0.0.3", "guess"), "error");
    }
    EXPECT_EQ(from("10.0.0.3", "vexmo"), "ok");
}

// A login with a name that does not exist costs a password check like a
// known name with a wrong password, so the time does not tell names apart.
TEST_F(UsersManagerTest, UnknownNamesCostWhatKnownNamesCost)
{
    UsersManager users;
    users.initDataBase();
    const auto roundsFor = [&](const char* name, const char* password, const char* address) {
        const long long before = Credentials::roundsOnThisThread();
        users.userLogin({ { "username", name }, { "password", password }, { "remoteAddr", address } });
        return Credentials::roundsOnThisThread() - before;
    };
    roundsFor("nobody", "guess", "0"); // the dummy hash is made once, on first use
    // A wrong password, a right one and a name that does not exist: one key
    // derivation of the stored strength each.
    EXPECT_EQ(roundsFor("admin", "guess", "1"), Credentials::kIterations);
    EXPECT_EQ(roundsFor("admin", "vexmo", "2"), Credentials::kIterations);
    EXPECT_EQ(roundsFor("nobody", "guess", "3"), Credentials::kIterations);
}

// The last user with the admin role keeps it; a password change, by whoever,
// ends the sessions of the user whose password it is.
TEST_F(UsersManagerTest, LastAdminStaysAndPasswordChangesEndSessions)
{
    UsersManager users;
    users.initDataBase();
    EXPECT_FALSE(users.modifyUserConfig({ { "username", "admin" }, { "alias", "admin" }, { "role", "user" } }));
    EXPECT_FALSE(users.modifyUserConfig({ { "username", "admin" }, { "alias", "admin" } })) << "no role is no admin";
    EXPECT_EQ(users.roleOf("admin"), "admin");
    ASSERT_TRUE(add(users, "bob", "admin"));
    EXPECT_TRUE(users.modifyUserConfig({ { "username", "admin" }, { "alias", "admin" }, { "role", "user" } }));
    EXPECT_EQ(users.roleOf("admin"), "user");
    EXPECT_FALSE(users.modifyUserConfig({ { "username", "bob" }, { "alias", "b" }, { "role", "user" } }));

    const QString token = login(users, "bob", "bob-pw").value("data").toObject().value("token").toString();
    QString msg;
    ASSERT_TRUE(users.checkSessionToken("bob", token, msg));
    ASSERT_TRUE(users.modifyUserConfig({ { "username", "bob" }, { "password", "changed" } }));
    EXPECT_FALSE(users.checkSessionToken("bob", token, msg));
    EXPECT_EQ(login(users, "bob", "changed").value("result").toString(), "ok");
}

namespace {

// Past the budget of password hashes a second, across all addresses, a
// login is refused at once, even with the right password; the next second
// takes logins again.
TEST_F(UsersManagerTest, TheHashBudgetRefusesAtOnceAcrossAddresses)
{
    UsersManager users;
    users.initDataBase();
    qint64 now = 1000000;
    users.setClock([&now] { return now; });
    const auto request = [](int address, const char* password) {
        return QJsonObject { { "username", "admin" }, { "password", password },
            { "remoteAddr", QStringLiteral("10.1.0.%1").arg(address) } };
    };
    // One guess from each of many addresses, all begun before any ends.
    std::vector<UsersManager::LoginAttempt> begun;
    for (int i = 0; i < UsersManager::kMaxHashesPerSecond; ++i) {
        begun.push_back(users.beginLogin(request(i, "guess")));
        ASSERT_TRUE(begun.back().needsHash()) << i;
    }
    const UsersManager::LoginAttempt over = users.beginLogin(request(100, "vexmo"));
    EXPECT_FALSE(over.needsHash()) << "refused without a hash";
    EXPECT_EQ(over.reply.value("result").toString(), "error");
    for (UsersManager::LoginAttempt& attempt : begun) {
        UsersManager::checkPassword(attempt);
        EXPECT_EQ(users.finishLogin(attempt).value("result").toString(), "error");
    }
    EXPECT_EQ(users.userLogin(request(101, "vexmo")).value("result").toString(), "error") << "the second is used";
    now += 1000;
    EXPECT_EQ(users.userLogin(request(101, "vexmo")).value("result").toString(), "ok");
}

// Guesses sent at once from one address get no more hashes than guesses in a
// row would; and a password changed while its hash ran opens no session.
TEST_F(UsersManagerTest, GuessesAtOnceFromOneAddressAndChangesDuringTheHash)
{
    UsersManager users;
    users.initDataBase();
    qint64 now = 1000000;
    users.setClock([&now] { return now; });
    const QJsonObject guess { { "username", "admin" }, { "password", "guess" }, { "remoteAddr", "10.2.0.1" } };
    std::vector<UsersManager::LoginAttempt> begun;
    for (int i = 0; i < UsersManager::kMaxLoginFailures; ++i) {
        begun.push_back(users.beginLogin(guess));
        ASSERT_TRUE(begun.back().needsHash()) << i;
    }
    EXPECT_FALSE(users.beginLogin(guess).needsHash());
    for (UsersManager::LoginAttempt& attempt : begun) {
        UsersManager::checkPassword(attempt);
        users.finishLogin(attempt);
    }
    EXPECT_FALSE(users.beginLogin(guess).needsHash()) << "blocked (half the budget is left)";

    ASSERT_TRUE(add(users, "carol"));
    UsersManager::LoginAttempt right
        = users.beginLogin({ { "username", "carol" }, { "password", "carol-pw" }, { "remoteAddr", "10.2.0.2" } });
    ASSERT_TRUE(right.needsHash());
    UsersManager::checkPassword(right);
    ASSERT_GE(right.matched, 0);
    ASSERT_TRUE(users.modifyUserConfig({ { "username", "carol" }, { "password", "n3w-Secret" } }));
    EXPECT_EQ(users.finishLogin(right).value("result").toString(), "error");
}

} // namespace
