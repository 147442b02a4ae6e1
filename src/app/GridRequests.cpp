// BaseConfig: the per-window operations of the control API (position,
// output, overlays, layout, sources, show options, number range, bus
// streams, PTZ) and the source assignment between positions. Runs on the
// HTTPS thread under programsMutex; pushes are queued and the changed files
// marked for the saver.
#include "BaseConfig.h"

#include "base/BusIds.h"

#include "base/ApiReplies.h"
#include "base/ZTLogger.h"
#include "http/HttpRequest.h"
#include "model/ProjectObject.h"
#include "output/MediaOutputManager.h"

#include <QDebug>
#include <QJsonDocument>
#include <QMutexLocker>

namespace {

// Query text carries every value as a string; both forms pick the same position.
int positionOf(const QJsonValue& value)
{
    if (value.isString())
        return value.toString().toInt(nullptr, 10);
    return value.toInt(0);
}

} // namespace

QJsonObject BaseConfig::getGridResult(GRIDTYPE type, const HttpRequest& request)
{
    QString msg, username, token;
    if (!verifyCaller(request, msg, username, token, isPanelOperation(type)))
        return apireply::error();
    const QJsonObject body = messageParsing(request);
    QString pro_id = body.value(QLatin1String("pro_id")).toString();
    QString win_id = body.value(QLatin1String("win_id")).toString();
    const int pos_id = positionOf(body.value(QLatin1String("pos_id")));
    const QString layout_id = body.value(QLatin1String("layout_id")).toString();

    QMutexLocker lock(&programsMutex);
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    // The source assignment finds its program in its own "to".
    if (!program && type != GRID_SET_SOURCE) {
        qDebug() << QString("pro_id[%1] is invalid and json is [%2].")
                        .arg(pro_id,
                            QString::fromUtf8(ZTLogger::clipped(QJsonDocument(body).toJson(QJsonDocument::Indented))));
        return apireply::error(QStringLiteral("project id is invalid."));
    }

    if (type == GRID_RESAVE_LAYOUT && apireply::nameTooLong(body))
        return apireply::error(apireply::nameTooLongMsg());

    bool done = false;
    // The preset a save or resave writes, named now for the queued save.
    QString changed_layout;
    switch (type) {
    case GRID_NONE:
        return program->getLayoutParams(win_id);
    case GRID_SET_POSITION:
        done = program->setWinPosition(win_id, body);
        break;
    case GRID_GET_POSITION:
        return program->getWinPosition(win_id);
    case GRID_GET_OUTPUT_TYPE:
        return program->getOutputType(win_id);
    case GRID_SET_OUTPUT_TYPE:
        done = program->setOutputType(win_id, body);
        break;
    case GRID_GET_NDI_PARAM:
        return MediaOutputManager::instance().getNDIParams(pro_id, win_id);
    case GRID_SET_NDI_PARAM:
        done = MediaOutputManager::instance().setNDIParams(pro_id, win_id, body, &msg);
        break;
    case GRID_GET_STATE_CONTROL:
        return program->getControlState(win_id);
    case GRID_SET_STATE_CONTROL:
        done = program->setControlState(win_id, body);
        break;
    case GRID_SET_LAYOUT:
    case GRID_RELOAD_LAYOUT:
        done = program->setLayout(win_id, layout_id);
        break;
    case GRID_MODIFY_LAYOUT:
        // The model finds the window by "win_id" and leaves the ids out of the layout itself.
        done = program->modifyLayout(body, msg);
        break;
    case GRID_SAVE_LAYOUT:
        done = program->saveLayout(body, msg);
        if (done)
            changed_layout = program->getWinLayoutId(win_id);
        break;
    case GRID_RESAVE_LAYOUT:
        done = program->resaveLayout(win_id, body, msg, &changed_layout);
        break;
    case GRID_DELETE_SOURCES:
        done = program->clearSources(win_id);
        break;
    case GRID_REMOVE_SOURCE:
        done = program->removeSource(win_id, pos_id);
        break;
    case GRID_SET_SOURCE:
        done = setSource(body, pro_id, win_id, &msg);
        break;
    case GRID_GET_SINGLE_LAYOUT:
        return program->getVideoRectShowOptions(win_id, pos_id);
    case GRID_SET_SINGLE_LAYOUT:
        done = program->setVideoRectShowOptions(win_id, body);
        break;
    case GRID_SET_AUDIO_TYPE:
        done = program->setVideoRectAudioType(win_id, body);
        break;
    case GRID_SET_NUM_RANGE:
        done = program->setWindowRange(win_id, body, msg);
        break;
    case GRID_GET_NUM_RANGE:
        return program->getWindowRange(win_id);
    case GRID_PVW_STREAM_GET:
    case GRID_PGM_STREAM_GET:
        // Both buses answer with the first position of the named window.
        return program->getVideoRectSource(win_id, 1);
    case GRID_PTZ_SET:
        done = program->setPtzControl(body, msg);
        break;
    default: // the values without an operation
        break;
    }
    if (!done)
        return apireply::error(msg);

    switch (type) {
    case GRID_SET_OUTPUT_TYPE:
        queuePush("sendLiveRequest", pro_id, win_id);
        queuePush("sendWindowRequest", pro_id);
        break;
    case GRID_RESAVE_LAYOUT:
        queuePush("sendPresetRequest", pro_id);
        break;
    case GRID_SET_NUM_RANGE:
        queuePush("sendGridRequest", pro_id, win_id);
        break;
    case GRID_PTZ_SET:
        return apireply::ok(); // a camera command changes nothing stored
    default:
        queuePush("sendWindowRequest", pro_id);
        break;
    }
    if (const QSharedPointer<ProjectObject> changed = requestProgram(pro_id)) {
        qDebug() << "save window gird " << pro_id << win_id;
        changed->onGridChanged(type, win_id, changed_layout);
    }
    return apireply::ok();
}

bool BaseConfig::setSource(const QJsonObject& request, QString& pro_id, QString& win_id, QString* msg)
{
    const QJsonObject from = request.value(QLatin1String("from")).toObject();
    const QJsonObject to = request.value(QLatin1String("to")).toObject();
    const QString fromPro = from.value(QLatin1String("pro_id")).toString();
    const QString toPro = to.value(QLatin1String("pro_id")).toString();
    // A source never moves between programs.
    if (!fromPro.isEmpty() && !toPro.isEmpty() && fromPro != toPro)
        return false;

    QMutexLocker lock(&programsMutex);
    const QSharedPointer<ProjectObject> program = requestProgram(toPro);
    if (!program)
        return false;
    const QString toType = to.value(QLatin1String("type")).toString();
    const QString toWin = to.value(QLatin1String("win_id")).toString();
    pro_id = toPro;
    win_id = BusId::isBus(toType) ? toType : toWin;

    QString takeMsg;
    const bool done = program->setVideoRectSource(from.value(QLatin1String("win_id")).toString(),
        from.value(QLatin1String("pos_id")).toInt(0), from.value(QLatin1String("number")).toString(),
        from.value(QLatin1String("offset")).toInt(0), toWin, to.value(QLatin1String("pos_id")).toInt(0),
        to.value(QLatin1String("stream_id")).toString(), takeMsg);
    if (msg)
        *msg = takeMsg;
    return done;
}
