#pragma once
// User accounts of the remote control and their login sessions.
//
// Owned by the controller for the life of the process. initDataBase() runs
// once on the main thread during start-up, before the HTTPS server starts;
// every other operation is called from the HTTPS server thread and holds the
// manager's recursive lock for its whole run, so calls never interleave.
// The one exception is the password hash of a login (about 30 ms): it runs
// without the lock, on the manager's small pool of hash threads (owned
// here, joined by the destructor), so that logins stall no other request.
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
#include <QThreadPool>
#include <QVariant>
#include <QVector>

#include <functional>
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
    // "alias","role","token","changed"}} or an error envelope. An address
    // with kMaxLoginFailures failed logins within a minute is answered the
    // login error at once, without checking, for a back-off that starts at
    // one second and doubles with each further failure up to a minute; a
    // successful login clears its record. An unknown name costs the same
    // password hash as a known one, so the answer time tells no names.
    static constexpr int kMaxLoginFailures = 5;
    static constexpr qint64 kFailureWindowMs = 60000;
    static constexpr qint64 kFirstBackoffMs = 1000;
    static constexpr qint64 kMaxBackoffMs = 60000;
    //
    // Past kMaxHashesPerSecond password hashes within a second, across every
    // address, a login is answered the login error at once, without a hash;
    // and while an address has hashes under way, they count as its failures,
    // so that guesses sent at once get no more hashes than guesses in a row.
    static constexpr int kMaxHashesPerSecond = 10;
    static constexpr int kHashThreads = 2;
    QJsonObject userLogin(const QJsonObject& request);

    // userLogin in three steps, so that the hash can run elsewhere:
    // beginLogin (HTTPS thread) answers what needs no hash and looks the
    // user up; checkPassword (any thread, no lock) hashes; finishLogin
    // (HTTPS thread) starts the session or records the failure. Every
    // attempt begun is finished exactly once.
    struct LoginAttempt {
        QJsonObject reply; // the answer, when no hash is needed
        QString address, password;
        struct Candidate {
            QVariant id;
            QString storedHash;
        };
        QVector<Candidate> candidates; // the rows of the name; none: an unknown name
        int matched = -1; // the candidate the password matched
        bool needsHash() const { return reply.isEmpty(); }
    };
    LoginAttempt beginLogin(const QJsonObject& request);
    static void checkPassword(LoginAttempt& attempt);
    QJsonObject finishLogin(const LoginAttempt& attempt);
    // Runs checkPassword on the hash threads, then done there.
    void checkLater(LoginAttempt attempt, std::function<void(const LoginAttempt&)> done);
    // The hash threads (tests hold them busy to see what waits for them).
    QThreadPool& hashPool() { return m_hashPool; }
    // Ends the session of username whose token is given.
    bool removeSessionToken(const QString& username, const QString& token, QString& msg);
    // {"search"} or {"limit","page"} -> {"result":"ok","data":{"count","list"}}.
    QJsonObject querySpecifiedList(const QJsonObject& request);
    bool addUserConfig(const QJsonObject& request, QString& msg);
    // A password change also ends every session of that user; the last
    // user with the admin role keeps that role.
    bool modifyUserConfig(const QJsonObject& request);
    // The role of username ("admin" manages the accounts); empty when no
    // such user exists.
    QString roleOf(const QString& username);
    // {"ids":[...]}. Refused when it would remove every user with the admin role.
    bool deleteUserConfig(const QJsonObject& request);
    QJsonObject getUserInfo(const QString& username, const QString& token);
    QJsonObject checkSessionToken(const QString& username, const QString& token);
    // The session check of every protected request; msg "Token.Error" on failure.
    bool checkSessionToken(const QString& username, const QString& token, QString& msg);

    int userCount() const { return m_userCount; }
    // Milliseconds of a steady clock; tests put their own in.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock);
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
    // The row whose session the token is, or none (m_mutex held).
    const UserRow* sessionRow(const QString& username, const QString& token);
    // Every write to the table calls this first, so no stale row (or
    // token) is ever served.
    void forgetRows();
    void convertPlainTextRows();
    QString flagFilePath() const;
    // Users with the admin role (among those extraCondition, SQL text made
    // by the manager, selects); -1 when the count failed.
    int adminCount(const QString& extraCondition = QString());
    // The login throttle of one remote address.
    struct LoginFailures {
        QVector<qint64> times; // failures within the last minute, oldest first
        qint64 blockedUntil = 0;
        qint64 backoffMs = 0;
    };
    bool loginBlocked(const QString& address, qint64 now);
    void loginFailed(const QString& address, qint64 now);

    QSqlDatabase m_db;
    QString m_connectionName;
    int m_userCount = 0;
    bool m_changed = true;
    std::recursive_mutex m_mutex;
    std::unique_ptr<QSqlQuery> m_rowQuery; // compiled once
    QHash<QString, std::vector<UserRow>> m_rows;
    QHash<QString, LoginFailures> m_loginFailures;
    // Hashes begun and not finished, by address; and when the hashes of the
    // last second began (at most kMaxHashesPerSecond, oldest first).
    QHash<QString, int> m_hashesPending;
    QVector<qint64> m_hashStarts;
    qint64 m_budgetLoggedAt = -1; // the full second whose refusals were logged
    Clock m_clock;
    QThreadPool m_hashPool; // last: joined before the rest goes
};
