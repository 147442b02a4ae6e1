// BaseConfig: take, tally, PTZ and source switching, for the HTTPS routes
// (HTTPS thread) and the WebSocket messages (the controller's worker
// thread). Both hold programsMutex while they use a program, so neither
// meets a program that the other is removing.
#include "BaseConfig.h"

#include "base/ApiReplies.h"
#include "http/HttpRequest.h"
#include "model/ProjectObject.h"

#include <QMutexLocker>

QJsonObject BaseConfig::getTakeResult(TAKETYPE type, const HttpRequest& request)
{
    QString msg, username, token;
    if (!verifyCaller(request, msg, username, token, isPanelOperation(type)))
        return apireply::error(msg);
    const QJsonObject body = messageParsing(request);
    const QString pro_id = body.value(QLatin1String("pro_id")).toString();

    QMutexLocker lock(&programsMutex);
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    if (!program)
        return apireply::error();

    bool done = false;
    switch (type) {
    case TAKE_GET:
        return program->getTakeParams();
    case TAKE_SET:
        done = program->doTake(body, msg);
        // Whatever the outcome: the clients redraw the buses as they are,
        // and the time and kind the take stored (also when it was refused)
        // go into the program list.
        queuePush("sendWindowRequest", pro_id);
        saveProgramListLater();
        break;
    case TAKE_SET_PARAMS:
        done = program->setTakeParams(body, msg);
        saveProgramListLater();
        break;
    }
    return apireply::result(done, msg);
}

void BaseConfig::getTallyStates(const QString& pro_id, QJsonObject& out)
{
    QMutexLocker lock(&programsMutex);
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    out = program ? program->getTallyState() : apireply::error();
    out.insert("socket_type", "tally");
}

void BaseConfig::setPtzStates(const QString& pro_id, const QJsonObject& message, QJsonObject& out)
{
    QMutexLocker lock(&programsMutex);
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    QString msg;
    out = program && program->setPtzControl(message, msg) ? apireply::ok() : apireply::error();
}

void BaseConfig::setTakeStates(const QString& pro_id, const QJsonObject& message, QJsonObject& out)
{
    QMutexLocker lock(&programsMutex);
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    QString msg;
    out = program && program->doTake(message, msg) ? apireply::ok() : apireply::error();
    // The take stores the time and kind it was sent: they outlive a restart.
    if (program)
        saveProgramListLater();
}

void BaseConfig::switchSource(const QJsonObject& message, QJsonObject& out)
{
    QMutexLocker lock(&programsMutex);
    QString pro_id, win_id;
    out = setSource(message, pro_id, win_id) ? apireply::ok() : apireply::error();
}
