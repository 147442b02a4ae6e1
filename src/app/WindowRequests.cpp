// BaseConfig: the window operations of the control API (add, remove, change,
// switch, list). Runs on the HTTPS thread under programsMutex; the window map
// changes later, in the queued addWindow/removeWindow slots. A change or
// close is answered from the GUI thread once it is made and its file marked,
// so a window acknowledged under a name is stored under it.
#include "BaseConfig.h"

#include "base/ApiReplies.h"
#include "http/HttpRequest.h"
#include "http/HttpResponder.h"
#include "model/ProjectObject.h"
#include "webrtc/WebrtcManager.h"

#include <QDebug>
#include <QMutexLocker>

namespace {

// Size and rate of a window request, read as the window model reads them;
// true when they are absent (the model's own check refuses that) or sound.
bool windowCanvasAccepted(const QJsonObject& request)
{
    if (!request.contains(QLatin1String("frameRate")) || !request.contains(QLatin1String("resolution")))
        return true;
    const QJsonObject resolution = request.value(QLatin1String("resolution")).toObject();
    if (!resolution.contains(QLatin1String("width")) || !resolution.contains(QLatin1String("height")))
        return true;
    return apireply::validCanvas(resolution.value(QLatin1String("width")).toInt(),
        resolution.value(QLatin1String("height")).toInt(),
        request.value(QLatin1String("frameRate")).toVariant().toDouble());
}

} // namespace

bool BaseConfig::checkAddWinValid(const QJsonObject& request, const QString& pro_id, QString& msg)
{
    QMutexLocker lock(&programsMutex);
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    return program && program->checkAddWinValid(request, msg);
}

bool BaseConfig::checkRemoveWinValid(const QJsonObject& request, const QString& pro_id, QString& msg)
{
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    return program && program->checkRemoveWinValid(request, msg);
}

QJsonObject BaseConfig::getWindowResult(WINDOWTYPE type, const HttpRequest& request, HttpResponder& responder)
{
    QString msg, username, token;
    if (!verifyCaller(request, msg, username, token, false))
        return apireply::error();
    const QJsonObject body = messageParsing(request);
    const QString pro_id = body.value(QLatin1String("pro_id")).toString();
    const QString win_id = body.value(QLatin1String("win_id")).toString();
    const QString session_id = body.value(QLatin1String("session_id")).toString();

    QMutexLocker lock(&programsMutex);
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    if (!program)
        return apireply::error();
    // The id of a window that is made, changed or closed names its file.
    if ((type == WINDOW_ADD || type == WINDOW_SET_PARAM || type == WINDOW_REMOVE) && !apireply::validWindowId(win_id))
        return apireply::error(msg);

    // The window the change is about, carried to its queued save.
    QString changed_id = win_id;
    switch (type) {
    case WINDOW_ADD:
    case WINDOW_SET_PARAM:
        if (!windowCanvasAccepted(body)) {
            qDebug() << "window parameters refused: size or frame rate out of range";
            return apireply::error(msg);
        }
        if (apireply::nameTooLong(body))
            return apireply::error(apireply::nameTooLongMsg());
        if (!checkAddWinValid(body, pro_id, msg))
            return apireply::error(msg);
        if (win_id.isEmpty()) {
            // A new window: its id and name are taken now, so what was
            // acknowledged cannot be refused when the window is made.
            changed_id = program->reserveWindow(body);
            QMetaObject::invokeMethod(this, "addReservedWindow", Qt::QueuedConnection, Q_ARG(QString, pro_id),
                Q_ARG(QString, changed_id), Q_ARG(QJsonObject, body));
        } else {
            program->holdWindowRange(win_id, body);
            answerFromGuiThread(
                responder, [this, pro_id, body, msg] { return apireply::result(addWindow(pro_id, body, msg), msg); });
        }
        queuePush("sendWindowRequest", pro_id);
        break;
    case WINDOW_REMOVE:
        if (!checkRemoveWinValid(body, pro_id, msg))
            return apireply::error(msg);
        answerFromGuiThread(
            responder, [this, pro_id, body] { return apireply::result(removeWindow(pro_id, body), QString()); });
        queuePush("sendWindowRequest", pro_id);
        break;
    case WINDOW_SWITCH:
        // An unknown window leaves the browser's session where it is: a
        // rebind to nothing would blank its preview.
        if (!program->switchWindow(win_id))
            return apireply::error(msg);
        if (webrtcManager)
            webrtcManager->switchWindow(pro_id, win_id, session_id);
        queuePush("sendGridRequest", pro_id, win_id);
        break;
    case WINDOW_GET_PARAM:
        return program->getWindowParam(win_id);
    case WINDOW_LIST:
        return program->getWindowList();
    default:
        return apireply::error(msg);
    }
    // Adds, changes and closes are made on the GUI thread, which marks the
    // window's file with the change; a switch is made by now.
    if (type != WINDOW_ADD && type != WINDOW_SET_PARAM && type != WINDOW_REMOVE)
        program->onWindowChanged(type, changed_id);
    // A change or close is answered by the GUI thread.
    return responder.isLater() ? QJsonObject() : apireply::ok();
}
