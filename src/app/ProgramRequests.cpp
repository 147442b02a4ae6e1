// BaseConfig: the program operations of the control API (add, remove,
// parameters, rename, start/stop, switch, existence). Runs on the HTTPS
// thread under programsMutex; creation and deletion are queued to the GUI
// thread, the pushes to the WebSocket server's, the files to the saver.
#include "BaseConfig.h"

#include "base/ApiReplies.h"
#include "http/HttpRequest.h"
#include "http/HttpResponder.h"
#include "model/ProjectObject.h"

#include <QDebug>
#include <QMutexLocker>

QSharedPointer<ProjectObject> BaseConfig::requestProgram(const QString& pro_id)
{
    QMutexLocker lock(&programsMutex);
    return pro_id.isEmpty() ? QSharedPointer<ProjectObject>() : programs.value(pro_id);
}

void BaseConfig::answerFromGuiThread(HttpResponder& responder, std::function<QJsonObject()> change)
{
    QMetaObject::invokeMethod(
        this, [change = std::move(change), reply = responder.later()] { reply.send(HttpResponse::json(change())); },
        Qt::QueuedConnection);
}

QJsonObject BaseConfig::getProgramResult(PROGRAMTYPE type, const HttpRequest& request, HttpResponder& responder)
{
    QString msg, username, token;
    if (!verifyCaller(request, msg, username, token, false))
        return apireply::error();
    const QJsonObject body = messageParsing(request);
    const QString pro_id = body.value(QLatin1String("pro_id")).toString();

    QMutexLocker lock(&programsMutex);
    // An add makes its own id; every other operation needs a live program.
    if (type != PROGRAM_ADD && !requestProgram(pro_id))
        return apireply::error();

    if ((type == PROGRAM_ADD || type == PROGRAM_SET_PARAM || type == PROGRAM_RENAME) && apireply::nameTooLong(body))
        return apireply::error(apireply::nameTooLongMsg());

    bool done = false;
    // The program the change is about, carried to its queued save.
    QString changed_id = pro_id;
    switch (type) {
    case PROGRAM_ADD:
        if (!checkAddProValid(body, msg))
            return apireply::error(msg);
        // Id and name are taken now, so the acknowledged add cannot be
        // refused when the program is made on the GUI thread.
        changed_id = reserveProgram(body.value(QLatin1String("name")).toString());
        QMetaObject::invokeMethod(
            this, "createProgram", Qt::QueuedConnection, Q_ARG(QString, changed_id), Q_ARG(QJsonObject, body));
        done = true;
        break;
    case PROGRAM_REMOVE:
        if (!checkRemoveProValid(pro_id, msg))
            return apireply::error(QString());
        // Answered once the program has gone and its folder's removal is
        // marked: an acknowledged removal never comes back after a crash.
        answerFromGuiThread(responder, [this, pro_id, msg] {
            const bool removed = removeProgram(pro_id, msg);
            onProgramChanged(PROGRAM_REMOVE, pro_id);
            return apireply::result(removed, QString());
        });
        queuePush("sendProgramRequest");
        return {};
    case PROGRAM_SET_PARAM:
        done = setProgramParam(body, msg);
        break;
    case PROGRAM_GET_PARAM:
        return getProgramParam(pro_id);
    case PROGRAM_RENAME:
        done = setProgramName(body, msg);
        break;
    case PROGRAM_SET_STATUS:
        done = setProgramStatus(body, msg);
        break;
    case PROGRAM_SWITCH:
        done = switchProgram(pro_id, msg);
        break;
    }
    if (!done)
        return apireply::error(msg);

    queuePush("sendProgramRequest");
    // An add is made on the GUI thread: its files are marked from there,
    // after it. Every other change is made by now.
    if (type == PROGRAM_ADD)
        QMetaObject::invokeMethod(
            this, "onProgramChanged", Qt::QueuedConnection, Q_ARG(PROGRAMTYPE, type), Q_ARG(QString, changed_id));
    else
        onProgramChanged(type, changed_id);
    return apireply::ok();
}

QJsonObject BaseConfig::getProgramStatus(const HttpRequest& request)
{
    const QJsonObject body = messageParsing(request);
    if (!body.contains(QLatin1String("pro_id")))
        return apireply::error();
    QMutexLocker lock(&programsMutex);
    return programs.contains(body.value(QLatin1String("pro_id")).toString()) ? apireply::ok() : apireply::error();
}

bool BaseConfig::programNameTaken(const QString& pro_id, const QString& name) const
{
    // A program keeps its own name; one missing from the name map is not checked.
    if (!pro_id.isEmpty() && (!programNames.contains(pro_id) || programNames.value(pro_id) == name))
        return false;
    for (const QString& used : programNames) {
        if (used == name)
            return true;
    }
    return false;
}

bool BaseConfig::checkAddProValid(const QJsonObject& request, QString& msg)
{
    QMutexLocker lock(&programsMutex);
    qDebug() << "add program ...";
    if (!request.value(QLatin1String("name")).isString() || !request.contains(QLatin1String("resolution"))
        || !request.contains(QLatin1String("frameRate"))) {
        qDebug() << "添加制作失败，参数缺失。";
        return false;
    }
    if (programNameTaken(QString(), request.value(QLatin1String("name")).toString())) {
        msg = "program.nameError";
        return false;
    }
    const QJsonObject resolution = request.value(QLatin1String("resolution")).toObject();
    if (!resolution.contains(QLatin1String("width")) || !resolution.contains(QLatin1String("height"))
        || !resolution.contains(QLatin1String("index")) || !resolution.contains(QLatin1String("aspect"))) {
        qDebug() << "添加制作失败，设置的分辨率参数不正确。";
        return false;
    }
    if (!apireply::validCanvas(resolution.value(QLatin1String("width")).toDouble(),
            resolution.value(QLatin1String("height")).toDouble(),
            request.value(QLatin1String("frameRate")).toDouble())) {
        qDebug() << "add program refused: size or frame rate out of range";
        return false;
    }
    return true;
}

bool BaseConfig::checkRemoveProValid(const QString& pro_id, QString& /*msg*/)
{
    QMutexLocker lock(&programsMutex);
    if (!programs.value(pro_id)) {
        qDebug() << "remove program refused, no program" << pro_id;
        return false;
    }
    return true;
}

bool BaseConfig::setProgramParam(const QJsonObject& request, QString& msg)
{
    if (!request.contains(QLatin1String("pro_id")) || !request.contains(QLatin1String("name"))
        || !request.contains(QLatin1String("resolution")) || !request.contains(QLatin1String("frameRate")))
        return false;
    const QString pro_id = request.value(QLatin1String("pro_id")).toString();
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    if (!program)
        return false;
    const QString name = request.value(QLatin1String("name")).toString();
    if (programNameTaken(pro_id, name)) {
        msg = "program.nameError";
        return false;
    }
    const QJsonObject resolution = request.value(QLatin1String("resolution")).toObject();
    if (!resolution.contains(QLatin1String("width")) || !resolution.contains(QLatin1String("height"))
        || !resolution.contains(QLatin1String("aspect")))
        return false;
    const double width = resolution.value(QLatin1String("width")).toDouble();
    const double height = resolution.value(QLatin1String("height")).toDouble();
    const double aspect = resolution.value(QLatin1String("aspect")).toDouble();
    const int index = resolution.value(QLatin1String("index")).toInt(0);
    const double frameRate = request.value(QLatin1String("frameRate")).toDouble(0.0);
    if (!apireply::validCanvas(width, height, frameRate)) {
        qDebug() << "program parameters refused: size or frame rate out of range";
        return false;
    }
    programNames.insert(pro_id, name);
    program->setAspect(index, aspect);
    program->setParams(pro_id, name, width, height, frameRate);
    return true;
}

QJsonObject BaseConfig::getProgramParam(const QString& pro_id)
{
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    if (!program)
        return apireply::error();
    double width = 0.0, height = 0.0, frameRate = 0.0, aspect = 0.0;
    int index = 0;
    program->getParams(width, height, frameRate);
    program->getAspect(index, aspect);
    const QJsonObject data { { "name", program->getName() },
        { "resolution",
            QJsonObject { { "width", width }, { "height", height }, { "index", index }, { "aspect", aspect } } },
        { "frameRate", frameRate } };
    return apireply::ok(data);
}

bool BaseConfig::setProgramName(const QJsonObject& request, QString& msg)
{
    if (!request.contains(QLatin1String("pro_id")) || !request.contains(QLatin1String("name"))) {
        qDebug() << "The program modify error because pro_id or name don't exist.";
        return false;
    }
    const QString pro_id = request.value(QLatin1String("pro_id")).toString();
    const QString name = request.value(QLatin1String("name")).toString();
    if (programNameTaken(pro_id, name)) {
        msg = "program.nameError";
        return false;
    }
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    if (!program) {
        qDebug() << "The program modify error because pro_id is invalid.";
        return false;
    }
    programNames.insert(pro_id, name);
    program->setName(name);
    return true;
}

bool BaseConfig::setProgramStatus(const QJsonObject& request, QString& /*msg*/)
{
    if (!request.contains(QLatin1String("pro_id")) || !request.contains(QLatin1String("status")))
        return false;
    const QSharedPointer<ProjectObject> program = requestProgram(request.value(QLatin1String("pro_id")).toString());
    if (!program)
        return false;
    // A GET carries "true" as text; read as a boolean it would stop the
    // program that the caller asked to start.
    program->setStatus(apireply::flagValue(request.value(QLatin1String("status"))));
    return true;
}

bool BaseConfig::switchProgram(const QString& pro_id, QString& /*msg*/)
{
    QMutexLocker lock(&programsMutex);
    return programs.contains(pro_id);
}
