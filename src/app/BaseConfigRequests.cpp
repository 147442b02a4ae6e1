// BaseConfig: the request frame shared by the control API handlers (who is
// calling, how a request becomes one JSON object), the user requests, and the
// fixed lists and access information the browser asks for. Runs on the HTTPS
// thread.
#include "BaseConfig.h"

#include "api/UsersManager.h"
#include "base/ApiReplies.h"
#include "base/Globals.h"
#include "http/HttpRequest.h"
#include "http/HttpResponder.h"
#include "model/LayoutTemplate.h"
#include "render/ScreensControl.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QUrl>

namespace {

// Query-form text ("a=1&ids[]=2"). It is split into its parameters before
// anything is decoded, so an encoded "&" or "=" stays inside its value.
QJsonObject parseQueryForm(QByteArray text)
{
    // API paths end in ".json": what follows "json?" is the query.
    const int marker = text.indexOf("json?");
    if (marker >= 0) {
        text = text.mid(marker + 5);
        const int next = text.indexOf("json?");
        if (next >= 0)
            text.truncate(next);
    }
    QJsonObject object;
    QJsonArray list; // the values of keys written with "[]"
    QString listKey;
    for (const HttpRequest::QueryItem& item : HttpRequest::parseQuery(text)) {
        if (item.first.contains(QLatin1String("[]"))) {
            listKey = QString(item.first).remove(QLatin1String("[]"));
            list.append(item.second);
        } else {
            object.insert(item.first, item.second);
        }
    }
    if (!list.isEmpty())
        object.insert(listKey, list);
    return object;
}

} // namespace

bool BaseConfig::isPanelOperation(GRIDTYPE type)
{
    return type == GRID_SET_SOURCE || type == GRID_SET_NUM_RANGE || type == GRID_GET_NUM_RANGE || type == GRID_PTZ_SET;
}

bool BaseConfig::isPanelOperation(TAKETYPE type)
{
    return type == TAKE_SET;
}

bool BaseConfig::checkToken(const QByteArray& app, QString& msg, QString& username, QString& token, bool panelOperation)
{
    const QJsonObject identity = QJsonDocument::fromJson(app).object();
    if (identity.contains(QLatin1String("username")))
        username = identity.value(QLatin1String("username")).toString();
    if (identity.contains(QLatin1String("token")))
        token = identity.value(QLatin1String("token")).toString();
    // A hardware control panel has no login; it names itself with
    // "terminalType". That opens only what a panel does, never the
    // management of users, programs, windows or presets.
    if (panelOperation && identity.contains(QLatin1String("terminalType")))
        return true;
    UsersManager* users = getUsersManager();
    if (!users)
        return false;
    return users->checkSessionToken(username, token, msg);
}

bool BaseConfig::verifyCaller(
    const HttpRequest& request, QString& msg, QString& username, QString& token, bool panelOperation)
{
    return checkToken(request.header("app"), msg, username, token, panelOperation);
}

QJsonObject BaseConfig::messageParsing(const HttpRequest& request)
{
    if (request.method() == "POST") {
        const QByteArray body = request.body();
        if (body.isEmpty())
            return QJsonObject();
        // JSON as it stands first: decoding first would turn a "%41" inside
        // a value (a password, say) into "A". Only a body that is not JSON
        // as sent is tried once more percent-decoded.
        QJsonParseError error;
        QJsonDocument document = QJsonDocument::fromJson(body, &error);
        if (error.error != QJsonParseError::NoError) {
            QJsonParseError decodedError;
            document = QJsonDocument::fromJson(QUrl::fromPercentEncoding(body).toUtf8(), &decodedError);
            if (decodedError.error != QJsonParseError::NoError) {
                qDebug() << "json error :" << error.error;
                return parseQueryForm(body);
            }
        }
        return document.object(); // empty for an array
    }
    if (request.method() == "GET") {
        const QByteArray text = request.url().toEncoded();
        return text.isEmpty() ? QJsonObject() : parseQueryForm(text);
    }
    return QJsonObject();
}

bool BaseConfig::userChangeAllowed(USERTYPE type, const QString& caller, QJsonObject& body, QString& msg)
{
    if (type != USER_ADD && type != USER_MODIFY && type != USER_REMOVE)
        return true;
    if (type != USER_REMOVE && (apireply::nameTooLong(body, "username") || apireply::nameTooLong(body, "alias"))) {
        msg = apireply::nameTooLongMsg();
        return false;
    }
    const QString callerRole = getUsersManager()->roleOf(caller);
    if (callerRole == QLatin1String("admin"))
        return true;
    // Everybody else changes only their own account: the password, or the
    // alias, phone and description with the role they have.
    if (type == USER_MODIFY && body.value(QLatin1String("username")).toString() == caller) {
        if (body.contains(QLatin1String("password")))
            return true;
        if (!body.contains(QLatin1String("role")))
            body.insert("role", callerRole); // an absent role would clear it
        if (body.value(QLatin1String("role")).toString() == callerRole)
            return true;
    }
    qWarning().noquote() << "[users] refused: user" << caller << "may not manage other accounts or roles";
    msg = QStringLiteral("user.permissionError");
    return false;
}

QJsonObject BaseConfig::getUserResult(USERTYPE type, const HttpRequest& request)
{
    QString msg, username, token;
    if (!verifyCaller(request, msg, username, token, false) && type != USER_LOGIN)
        return apireply::error(msg);
    QJsonObject body = messageParsing(request);
    UsersManager* users = getUsersManager();
    if (!users)
        return apireply::error(msg);
    if (!userChangeAllowed(type, username, body, msg))
        return apireply::error(msg);

    bool done = false;
    switch (type) {
    case USER_LOGIN:
        body.insert("remoteAddr", request.remoteAddress().toString());
        return users->userLogin(body);
    case USER_LOGOUT:
        done = users->removeSessionToken(username, token, msg);
        break;
    case USER_LIST:
        return users->querySpecifiedList(body);
    case USER_ADD:
        done = users->addUserConfig(body, msg);
        break;
    case USER_MODIFY:
        done = users->modifyUserConfig(body);
        break;
    case USER_REMOVE:
        done = users->deleteUserConfig(body);
        break;
    case USER_INFO:
        return users->getUserInfo(username, token);
    case USER_SESSION:
        return users->checkSessionToken(username, token);
    }
    return done ? apireply::ok() : apireply::error(msg);
}

QJsonObject BaseConfig::userLogin(const HttpRequest& request, HttpResponder& responder)
{
    UsersManager* users = getUsersManager();
    if (!users)
        return apireply::error(QString());
    QJsonObject body = messageParsing(request);
    body.insert("remoteAddr", request.remoteAddress().toString());
    UsersManager::LoginAttempt attempt = users->beginLogin(body);
    if (!attempt.needsHash())
        return attempt.reply;
    users->checkLater(std::move(attempt), [reply = responder.later()](const UsersManager::LoginAttempt& checked) {
        reply.send([checked] {
            // Looked up again: the manager that began the attempt may have
            // gone with the controller's shutdown.
            UsersManager* users = BaseConfig::getInstance()->getUsersManager();
            return HttpResponse::json(users ? users->finishLogin(checked) : apireply::error(QString()));
        });
    });
    return {};
}

QJsonObject BaseConfig::qrCodeGetting()
{
    QString address;
    {
        QMutexLocker lock(&programsMutex); // guards webUrl and qrcodeUrl
        qrcodeUrl = QStringLiteral("%1/index.html").arg(webUrl);
        address = qrcodeUrl;
    }
    QJsonObject chinese { { "value", "zh" }, { "name", QStringLiteral("简体中文") } };
    QJsonObject english { { "value", "en" }, { "name", "English" } };
    (language == QLatin1String("zh") ? chinese : english).insert("default", true);

    const QJsonObject data {
        { "languageShow", languageShow },
        { "languageOptions", QJsonArray { chinese, english } },
        { "logoImgShow", logoImgShow },
        { "logoImgUrl", "./img/logo.png" },
        { "loginImgShow", loginImgShow },
        { "loginImgUrl", "./img/logo.png" },
        { "version", g_version },
        { "qrcode", address },
        { "deviceName", deviceNameShow ? QStringLiteral("Panoptra Pro") : QString("") },
        { "websocketPort", g_websocketPort },
        { "neutralVersion", g_is_neutral_version },
    };
    return apireply::ok(data);
}

QJsonObject BaseConfig::processLanguage(const HttpRequest& request)
{
    // The language is chosen on the desktop; browsers only report theirs.
    Q_UNUSED(request)
    return apireply::ok();
}

QJsonObject BaseConfig::getScreenList()
{
    return apireply::ok(ScreensControl::instance()->getScreenToWeb());
}

QJsonObject BaseConfig::getOutputList()
{
    return apireply::ok(QJsonArray { QJsonObject { { "id", 1 }, { "label", "ndi" } } });
}

QJsonObject BaseConfig::resolutionList()
{
    QJsonArray resolutions;
    const struct {
        int width, height;
    } kSizes[] = { { 1280, 720 }, { 1920, 1080 }, { 3840, 2160 } };
    int id = 0;
    for (const auto& size : kSizes) {
        resolutions.append(
            QJsonObject { { "id", ++id }, { "label", QStringLiteral("%1x%2").arg(size.width).arg(size.height) },
                { "width", size.width }, { "height", size.height } });
    }
    return apireply::ok(resolutions);
}

QJsonObject BaseConfig::frameRateList()
{
    return apireply::ok(QJsonArray { 60, 50, 30, 25 });
}

QJsonObject BaseConfig::templateJson()
{
    const LayoutTemplate* templates = getLayoutTemplate();
    return templates ? templates->getTemplateLlist() : apireply::error();
}

QJsonObject BaseConfig::getTakeTransitions()
{
    static const char* const kLabels[]
        = { "fadeIn", "pinwheel", "angular", "wipeRight", "wipeLeft", "wipeDown", "wipeUp" };
    QJsonArray transitions;
    int id = 0;
    for (const char* label : kLabels)
        transitions.append(QJsonObject { { "id", ++id }, { "label", label } });
    return apireply::ok(transitions);
}
