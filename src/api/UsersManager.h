#pragma once
// User accounts of the remote control and their login sessions.
//
// Owned by the controller for the life of the process. initDataBase() runs
// once on the main thread during start-up, before the HTTPS server starts;
// every other operation is called from the HTTPS server thread and holds the
// manager's recursive lock for its whole run, so calls never interleave.
//
// The accounts live in the SQLite database "<g_savePath>/user/users.db",
// table usersInfo. Passwords are stored only as salted hashes and session
// tokens only as digests (see Credentials); rows written in plain text by
// earlier versions are converted when the database is opened. Neither a
// password nor a token is ever written to the log or returned by the list.
// Every value from a request enters SQL as a bound parameter.
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class UsersManager : public QObject {
    Q_OBJECT
public:
    explicit UsersManager(QObject* parent = nullptr);
    ~UsersManager() override;

    // Opens (or creates, with the default account) the database and reads
    // the changed flag from "<g_savePath>/user/changed.json".
    void initDataBase();
    // Writes the changed flag file; false when it could not be written.
    bool save();

    // {"username","password","remoteAddr"} -> {"result":"ok","data":{"username",
    // "alias","role","token","changed"}} or an error envelope.
    QJsonObject userLogin(const QJsonObject& request);
    // Ends the session of username whose token is given.
    bool removeSessionToken(const QString& username, const QString& token, QString& msg);
    // {"search"} or {"limit","page"} -> {"result":"ok","data":{"count","list"}}.
    QJsonObject querySpecifiedList(const QJsonObject& request);
    bool addUserConfig(const QJsonObject& request, QString& msg);
    bool modifyUserConfig(const QJsonObject& request);
    // {"ids":[...]}. Refused when it would remove every user with the admin role.
    bool deleteUserConfig(const QJsonObject& request);
    QJsonObject getUserInfo(const QString& username, const QString& token);
    QJsonObject checkSessionToken(const QString& username, const QString& token);
    // The session check of every protected request; msg "Token.Error" on failure.
    bool checkSessionToken(const QString& username, const QString& token, QString& msg);

    int userCount() const { return m_userCount; }
    bool changed() const { return m_changed; }

private:
    bool userExists(const QString& username);
    // What every protected request reads of a user: kept in memory after
    // the first look-up, since the token check runs on each request.
    struct UserRow {
        QString username, alias, role, phone, descript, tokenDigest;
    };
    // The rows of username (the table does not forbid two), from the cache
    // or the database; empty when there is none.
    const std::vector<UserRow>& rowsOf(const QString& username);
    // Every write to the table calls this first, so no stale row (or
    // token) is ever served.
    void forgetRows();
    void convertPlainTextRows();
    QString flagFilePath() const;

    QSqlDatabase m_db;
    QString m_connectionName;
    int m_userCount = 0;
    bool m_changed = true;
    std::recursive_mutex m_mutex;
    std::unique_ptr<QSqlQuery> m_rowQuery; // compiled once
    QHash<QString, std::vector<UserRow>> m_rows;
};
