#include "UsersManager.h"

#include "base/ApiReplies.h"

#include "Credentials.h"
#include "base/Globals.h"
#include "base/JsonFile.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QJsonArray>
#include <QSqlError>
#include <QSqlQuery>

#include <QElapsedTimer>

#include <algorithm>
#include <vector>

namespace {

const char* const kCreateTable
    = "CREATE TABLE usersInfo (id INTEGER PRIMARY KEY AUTOINCREMENT, username VARCHAR(40) NOT NULL, "
      "password VARCHAR(40) NOT NULL, passwordCount INTEGER NOT NULL, alias VARCHAR(40) NOT NULL, "
      "role VARCHAR(40) NOT NULL, phone VARCHAR(40) NOT NULL, descript VARCHAR(40) NOT NULL, "
      "create_time VARCHAR(40) NOT NULL, token VARCHAR(100) NOT NULL)";

// What a user list shows: every column but the password and the token.
const char* const kListColumns = "id, username, passwordCount, alias, role, phone, descript, create_time";

const QString kAdminRole = QStringLiteral("admin");
const QString kLoginFailed = QStringLiteral("用户名或密码错误");
const QString kTokenError = QStringLiteral("Token.Error");

// A request's text field; absent reads as empty text (the columns are NOT NULL).
QString textOf(const QJsonObject& request, const char* key)
{
    const QString value = request.value(QLatin1String(key)).toString();
    return value.isNull() ? QStringLiteral("") : value;
}

bool run(QSqlQuery& q, const char* what)
{
    if (q.exec())
        return true;
    // The driver's text names the failure, never the bound values.
    qWarning().noquote() << "[users]" << what << "failed:" << q.lastError().text();
    return false;
}

bool insertUser(QSqlDatabase& db, const QString& username, const QString& passwordHash, const QString& alias,
    const QString& role, const QString& phone, const QString& descript)
{
    QSqlQuery q(db);
    q.prepare("INSERT INTO usersInfo (username, password, passwordCount, alias, role, phone, descript, "
              "create_time, token) VALUES (:username, :password, :passwordCount, :alias, :role, :phone, "
              ":descript, :create_time, :token)");
    q.bindValue(":username", username);
    q.bindValue(":password", passwordHash);
    q.bindValue(":passwordCount", 1);
    q.bindValue(":alias", alias);
    q.bindValue(":role", role);
    q.bindValue(":phone", phone);
    q.bindValue(":descript", descript);
    q.bindValue(":create_time", QString::number(QDateTime::currentSecsSinceEpoch() * 1000));
    q.bindValue(":token", QString(""));
    return run(q, "adding a user");
}

// What an unknown user name's password is checked against, so that its
// login costs what a known one's does. Made once; it matches no password a
// client could send only by the odds of the hash.
const QString& dummyPasswordHash()
{
    static const QString hash = Credentials::hashPassword(Credentials::newToken());
    return hash;
}

// Addresses remembered by the login throttle; past this, those no longer
// blocked are forgotten first.
constexpr int kMaxThrottledAddresses = 4096;

} // namespace

UsersManager::UsersManager(QObject* parent)
    : QObject(parent)
    , m_connectionName(QStringLiteral("users-%1").arg(reinterpret_cast<quintptr>(this), 0, 16))
{
    m_hashPool.setMaxThreadCount(kHashThreads);
    m_hashPool.setExpiryTimeout(-1); // kept for the next login, not made anew for each
    setClock(nullptr);
}

void UsersManager::setClock(Clock clock)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!clock) {
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        // Starts past a whole back-off, so that "blocked until 0" is long over.
        clock = [started] { return started->elapsed() + kMaxBackoffMs; };
    }
    m_clock = std::move(clock);
}

bool UsersManager::loginBlocked(const QString& address, qint64 now)
{
    const auto it = m_loginFailures.constFind(address);
    return it != m_loginFailures.constEnd() && now < it->blockedUntil;
}

void UsersManager::loginFailed(const QString& address, qint64 now)
{
    if (m_loginFailures.size() >= kMaxThrottledAddresses && !m_loginFailures.contains(address)) {
        for (auto it = m_loginFailures.begin(); it != m_loginFailures.end();) {
            if (now >= it->blockedUntil)
                it = m_loginFailures.erase(it);
            else
                ++it;
        }
        if (m_loginFailures.size() >= kMaxThrottledAddresses)
            return; // every remembered address is blocked: this one waits for room
    }
    LoginFailures& failures = m_loginFailures[address];
    // A failure soon after a back-off (within a minute of its end) doubles
    // it; a quiet minute starts the count afresh.
    const bool escalating = failures.backoffMs > 0 && !failures.times.isEmpty()
        && now - failures.times.last() <= kFailureWindowMs + failures.backoffMs;
    while (!failures.times.isEmpty() && failures.times.first() <= now - kFailureWindowMs)
        failures.times.removeFirst();
    failures.times.append(now);
    if (!escalating && failures.times.size() < kMaxLoginFailures) {
        failures.backoffMs = 0;
        return;
    }
    // Keep only as many as the rule looks at, so the record stays small.
    while (failures.times.size() > kMaxLoginFailures)
        failures.times.removeFirst();
    failures.backoffMs = escalating ? std::min(failures.backoffMs * 2, kMaxBackoffMs) : kFirstBackoffMs;
    failures.blockedUntil = now + failures.backoffMs;
    qWarning().noquote() << "[users] logins from" << address << "refused for" << failures.backoffMs
                         << "ms after repeated failures";
}

UsersManager::~UsersManager()
{
    m_hashPool.waitForDone(); // its work touches nothing of ours, but is ours
    m_rowQuery.reset();
    m_db.close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

QString UsersManager::flagFilePath() const
{
    return g_savePath + QStringLiteral("/user/changed.json");
}

void UsersManager::initDataBase()
{
    if (m_db.isOpen())
        return;
    QDir().mkpath(g_savePath + QStringLiteral("/user"));
    bool ok = false;
    const QJsonObject flag = JsonFile::load(flagFilePath(), &ok);
    m_changed = ok && flag.value("changed").toBool(false);

    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(QStringLiteral("%1/user/%2").arg(g_savePath, QStringLiteral("users.db")));
    if (!m_db.open()) {
        qDebug() << "open database failed! " << m_db.lastError().text();
        return;
    }

    m_userCount = 0;
    if (m_db.tables().contains(QStringLiteral("usersInfo"))) {
        QSqlQuery q(m_db);
        q.prepare("SELECT COUNT(*) FROM usersInfo");
        if (run(q, "counting users") && q.next())
            m_userCount = q.value(0).toInt();
        convertPlainTextRows();
        return;
    }

    QSqlQuery q(m_db);
    q.exec("DROP TABLE usersInfo");
    q.prepare(kCreateTable);
    if (!run(q, "creating the users table"))
        return;
    if (insertUser(m_db, "admin", Credentials::hashPassword("vexmo"), "admin", kAdminRole, "", ""))
        m_userCount = 1;
    m_changed = false;
    save();
}

void UsersManager::convertPlainTextRows()
{
    forgetRows();
    struct Row {
        qint64 id;
        QString password, token;
    };
    std::vector<Row> rows;
    QSqlQuery q(m_db);
    q.prepare("SELECT id, password, token FROM usersInfo");
    if (!run(q, "reading users"))
        return;
    while (q.next()) {
        Row row { q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString() };
        if (!Credentials::isPasswordHash(row.password)
            || (!row.token.isEmpty() && !Credentials::isTokenDigest(row.token)))
            rows.push_back(row);
    }
    if (rows.empty())
        return;

    // Sessions that were open keep working: the stored token is replaced by
    // its digest, which is what a request's token is checked against.
    m_db.transaction();
    int converted = 0;
    for (const Row& row : rows) {
        QString password = row.password;
        if (!Credentials::isPasswordHash(password))
            password = Credentials::hashPassword(password);
        const QString token = row.token.isEmpty() || Credentials::isTokenDigest(row.token)
            ? row.token
            : Credentials::tokenDigest(row.token);
        if (password.isEmpty())
            continue; // no random salt to be had; tried again at the next start
        QSqlQuery update(m_db);
        update.prepare("UPDATE usersInfo SET password = :password, token = :token WHERE id = :id");
        update.bindValue(":password", password);
        update.bindValue(":token", token);
        update.bindValue(":id", row.id);
        if (run(update, "converting a stored password"))
            ++converted;
    }
    m_db.commit();
    qInfo().noquote() << "[users] converted" << converted << "plain-text user rows to hashed form";
}

bool UsersManager::save()
{
    return JsonFile::save(flagFilePath(), QJsonObject { { "changed", m_changed } });
}

bool UsersManager::userExists(const QString& username)
{
    QSqlQuery q(m_db);
    q.prepare("SELECT id FROM usersInfo WHERE username = :username");
    q.bindValue(":username", username);
    return run(q, "looking up a user") && q.next();
}

QJsonObject UsersManager::userLogin(const QJsonObject& request)
{
    LoginAttempt attempt = beginLogin(request);
    if (!attempt.needsHash())
        return attempt.reply;
    checkPassword(attempt);
    return finishLogin(attempt);
}

UsersManager::LoginAttempt UsersManager::beginLogin(const QJsonObject& request)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    LoginAttempt attempt;
    const QString username = request.value("username").toString();
    attempt.password = request.value("password").toString();
    if (username.isEmpty() || attempt.password.isEmpty()) {
        attempt.reply = apireply::error();
        return attempt;
    }
    const QJsonObject failed = apireply::error(kLoginFailed);
    attempt.address = request.value("remoteAddr").toString();
    const qint64 now = m_clock();
    // No hash for these: a guessing client costs nothing while it waits.
    if (loginBlocked(attempt.address, now)) {
        attempt.reply = failed;
        return attempt;
    }
    const auto failures = m_loginFailures.constFind(attempt.address);
    const int recentFailures = failures == m_loginFailures.constEnd()
        ? 0
        : int(std::count_if(
            failures->times.begin(), failures->times.end(), [now](qint64 t) { return t > now - kFailureWindowMs; }));
    // One at a time is always checked (the back-off above rules it); more
    // at once only while they could not have blocked the address in a row.
    const int pending = m_hashesPending.value(attempt.address);
    if (pending > 0 && recentFailures + pending >= kMaxLoginFailures) {
        attempt.reply = failed;
        return attempt;
    }
    while (!m_hashStarts.isEmpty() && m_hashStarts.first() <= now - 1000)
        m_hashStarts.removeFirst();
    if (m_hashStarts.size() >= kMaxHashesPerSecond) {
        // One line per full second, not one per refusal: a flood of guesses
        // would otherwise roll the log over.
        if (m_budgetLoggedAt != m_hashStarts.first()) {
            m_budgetLoggedAt = m_hashStarts.first();
            qWarning().noquote() << "[users] logins refused without a check: over" << kMaxHashesPerSecond
                                 << "password checks a second, the first from" << attempt.address;
        }
        attempt.reply = failed;
        return attempt;
    }

    QSqlQuery q(m_db);
    q.prepare("SELECT id, password FROM usersInfo WHERE username = :username");
    q.bindValue(":username", username);
    if (!run(q, "looking up a login")) {
        attempt.reply = failed;
        return attempt;
    }
    while (q.next())
        attempt.candidates.append({ q.value(0), q.value(1).toString() });
    m_hashStarts.append(now);
    ++m_hashesPending[attempt.address];
    return attempt;
}

void UsersManager::checkPassword(LoginAttempt& attempt)
{
    attempt.matched = -1;
    for (int i = 0; i < attempt.candidates.size(); ++i) {
        if (Credentials::verifyPassword(attempt.password, attempt.candidates.at(i).storedHash)) {
            attempt.matched = i;
            return;
        }
    }
    // An unknown name costs the same hash as a known one.
    if (attempt.candidates.isEmpty())
        Credentials::verifyPassword(attempt.password, dummyPasswordHash());
}

void UsersManager::checkLater(LoginAttempt attempt, std::function<void(const LoginAttempt&)> done)
{
    m_hashPool.start([attempt = std::move(attempt), done = std::move(done)]() mutable {
        checkPassword(attempt);
        done(attempt);
    });
}

QJsonObject UsersManager::finishLogin(const LoginAttempt& attempt)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    forgetRows();
    const auto pending = m_hashesPending.find(attempt.address);
    if (pending != m_hashesPending.end() && --*pending <= 0)
        m_hashesPending.erase(pending);
    QJsonObject failed = apireply::error(kLoginFailed);
    if (attempt.matched >= 0 && attempt.matched < attempt.candidates.size()) {
        const LoginAttempt::Candidate& row = attempt.candidates.at(attempt.matched);
        // The row as it is now: a password changed or a user removed while
        // the hash ran opens no session.
        QSqlQuery q(m_db);
        q.prepare("SELECT username, alias, role FROM usersInfo WHERE id = :id AND password = :password");
        q.bindValue(":id", row.id);
        q.bindValue(":password", row.storedHash);
        if (run(q, "looking up a login") && q.next()) {
            m_loginFailures.remove(attempt.address);
            const QString token = Credentials::newToken();
            if (token.isEmpty())
                return failed;
            QSqlQuery update(m_db);
            update.prepare("UPDATE usersInfo SET token = :token WHERE id = :id");
            update.bindValue(":token", Credentials::tokenDigest(token));
            update.bindValue(":id", row.id);
            run(update, "storing a session");
            return apireply::ok(QJsonObject { { "username", q.value(0).toString() }, { "alias", q.value(1).toString() },
                { "role", q.value(2).toString() }, { "token", token }, { "changed", m_changed } });
        }
    }
    loginFailed(attempt.address, m_clock()); // the back-off runs from the answer, not from the request
    return failed;
}

bool UsersManager::removeSessionToken(const QString& username, const QString& token, QString& msg)
{
    Q_UNUSED(msg)
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    forgetRows();
    if (username.isEmpty() || token.isEmpty())
        return false;
    QSqlQuery q(m_db);
    q.prepare("UPDATE usersInfo SET token = '' WHERE username = :username AND token = :token");
    q.bindValue(":username", username);
    q.bindValue(":token", Credentials::tokenDigest(token));
    return run(q, "ending a session");
}

QJsonObject UsersManager::querySpecifiedList(const QJsonObject& request)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto number = [&request](const char* key) {
        if (!request.contains(key))
            return -1;
        const QJsonValue v = request.value(key);
        if (v.isString()) {
            bool ok = false;
            const int n = v.toString().toInt(&ok);
            return ok ? n : 0;
        }
        return v.toInt(0);
    };
    const QString search = request.value("search").toString();
    const int limit = number("limit");
    const int page = number("page");

    QSqlQuery q(m_db);
    bool selected = false;
    if (!search.isEmpty()) {
        q.prepare(QStringLiteral("SELECT %1 FROM usersInfo WHERE username LIKE :a OR alias LIKE :b "
                                 "OR phone LIKE :c OR descript LIKE :d")
                      .arg(kListColumns));
        const QString pattern = QLatin1Char('%') + search + QLatin1Char('%');
        for (const char* name : { ":a", ":b", ":c", ":d" })
            q.bindValue(name, pattern);
        selected = true;
    } else if (limit > 0 && page > 0) {
        const qint64 offset = qint64(page - 1) * limit;
        q.prepare(
            QStringLiteral("SELECT %1 FROM usersInfo LIMIT %2 OFFSET %3").arg(kListColumns).arg(limit).arg(offset));
        selected = true;
    }

    QJsonArray list;
    if (selected && run(q, "listing users")) {
        while (q.next()) {
            list.append(QJsonObject { { "id", q.value(0).toLongLong() }, { "username", q.value(1).toString() },
                { "passwordCount", q.value(2).toLongLong() }, { "alias", q.value(3).toString() },
                { "role", q.value(4).toString() }, { "phone", q.value(5).toString() },
                { "descript", q.value(6).toString() }, { "create_time", q.value(7).toString() } });
        }
    }
    return apireply::ok(QJsonObject { { "count", m_userCount }, { "list", list } });
}

bool UsersManager::addUserConfig(const QJsonObject& request, QString& msg)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    forgetRows();
    const QString username = request.value("username").toString();
    const QString password = request.value("password").toString();
    const QString alias = request.value("alias").toString();
    const QString role = request.value("role").toString();
    if (username.isEmpty() || password.isEmpty() || alias.isEmpty() || role.isEmpty())
        return false;
    if (userExists(username)) {
        msg = QStringLiteral("user.nameError");
        return false;
    }
    const QString hash = Credentials::hashPassword(password);
    if (hash.isEmpty())
        return false;
    if (!insertUser(m_db, username, hash, alias, role, textOf(request, "phone"), textOf(request, "descript")))
        return false;
    ++m_userCount;
    return true;
}

bool UsersManager::modifyUserConfig(const QJsonObject& request)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    forgetRows();
    const QString username = request.value("username").toString();
    if (username.isEmpty() || !userExists(username))
        return false;
    QSqlQuery q(m_db);
    if (request.contains("password")) {
        const QString hash = Credentials::hashPassword(request.value("password").toString());
        if (hash.isEmpty())
            return false;
        // Whoever knew the old password keeps no session opened with it.
        q.prepare("UPDATE usersInfo SET password = :password, token = '' WHERE username = :username");
        q.bindValue(":password", hash);
    } else {
        // Without a user in the admin role nobody could manage the users again.
        if (textOf(request, "role") != kAdminRole && roleOf(username) == kAdminRole && adminCount() <= 1) {
            qWarning() << "[users] refusing to take the admin role from the last user who has it";
            return false;
        }
        q.prepare("UPDATE usersInfo SET alias = :alias, role = :role, phone = :phone, descript = :descript "
                  "WHERE username = :username");
        for (const char* key : { "alias", "role", "phone", "descript" })
            q.bindValue(QLatin1Char(':') + QLatin1String(key), textOf(request, key));
    }
    q.bindValue(":username", username);
    const bool updated = run(q, "modifying a user");
    forgetRows(); // the role check above may have read the row again
    if (!updated)
        return false;
    if (!m_changed) {
        m_changed = true;
        save();
    }
    return true;
}

QString UsersManager::roleOf(const QString& username)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const std::vector<UserRow>& rows = rowsOf(username);
    // Names are unique by our own check; of rows written otherwise, an admin one counts.
    for (const UserRow& row : rows) {
        if (row.role == kAdminRole)
            return row.role;
    }
    return rows.empty() ? QString() : rows.front().role;
}

int UsersManager::adminCount(const QString& extraCondition)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM usersInfo WHERE role = :role") + extraCondition);
    q.bindValue(":role", kAdminRole);
    return run(q, "counting admins") && q.next() ? q.value(0).toInt() : -1;
}

bool UsersManager::deleteUserConfig(const QJsonObject& request)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    forgetRows();
    if (!request.value("ids").isArray())
        return false;
    QStringList ids;
    const QJsonArray requested = request.value("ids").toArray();
    for (const QJsonValue& v : requested)
        ids << QString::number(v.toInt(0));
    if (ids.isEmpty())
        return false;
    const QString idSet = ids.join(QLatin1Char(','));

    // Without a user in the admin role nobody could manage the users again.
    const int admins = adminCount();
    const int adminsRemoved = adminCount(QStringLiteral(" AND id IN (%1)").arg(idSet));
    if (admins < 0 || adminsRemoved < 0)
        return false;
    if (adminsRemoved > 0 && adminsRemoved == admins) {
        qWarning() << "[users] refusing to remove the last user with the admin role";
        return false;
    }

    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("DELETE FROM usersInfo WHERE id IN (%1)").arg(idSet));
    if (!run(q, "removing users"))
        return false;
    m_userCount -= std::max(0, q.numRowsAffected());
    return true;
}

const std::vector<UsersManager::UserRow>& UsersManager::rowsOf(const QString& username)
{
    const auto cached = m_rows.constFind(username);
    if (cached != m_rows.constEnd())
        return *cached;
    static const std::vector<UserRow> kNone;
    if (!m_rowQuery) {
        m_rowQuery = std::make_unique<QSqlQuery>(m_db);
        m_rowQuery->prepare(
            "SELECT username, alias, role, phone, descript, token FROM usersInfo WHERE username = :username");
    }
    QSqlQuery& q = *m_rowQuery;
    q.bindValue(":username", username);
    std::vector<UserRow> rows;
    if (run(q, "reading a user")) {
        while (q.next()) {
            rows.push_back(UserRow { q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                q.value(3).toString(), q.value(4).toString(), q.value(5).toString() });
        }
    }
    q.finish();
    // Only names that exist are kept, so the cache never holds more than
    // the table, whatever names requests make up.
    if (rows.empty())
        return kNone;
    std::vector<UserRow>& stored = m_rows[username];
    stored = std::move(rows);
    return stored;
}

void UsersManager::forgetRows()
{
    m_rows.clear();
}

QJsonObject UsersManager::getUserInfo(const QString& username, const QString& token)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (username.isEmpty() || token.isEmpty())
        return apireply::error();
    const std::vector<UserRow>& rows = rowsOf(username);
    if (rows.empty())
        return apireply::error();
    const UserRow& row = rows.front();
    return apireply::ok(QJsonObject { { "username", row.username }, { "alias", row.alias }, { "role", row.role },
        { "phone", row.phone }, { "descript", row.descript } });
}

const UsersManager::UserRow* UsersManager::sessionRow(const QString& username, const QString& token)
{
    if (username.isEmpty() || token.isEmpty())
        return nullptr;
    for (const UserRow& row : rowsOf(username)) {
        if (Credentials::tokenMatches(token, row.tokenDigest))
            return &row;
    }
    return nullptr;
}

QJsonObject UsersManager::checkSessionToken(const QString& username, const QString& token)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const UserRow* row = sessionRow(username, token);
    if (!row)
        return apireply::error();
    return apireply::ok(QJsonObject { { "username", row->username }, { "alias", row->alias } });
}

bool UsersManager::checkSessionToken(const QString& username, const QString& token, QString& msg)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (sessionRow(username, token))
        return true;
    msg = kTokenError;
    return false;
}
