// BaseConfig: the preset operations of the control API (list, add, remove,
// rename). Runs on the HTTPS thread under programsMutex; the push is queued
// and the preset file marked for the saver.
#include "BaseConfig.h"

#include "base/ApiReplies.h"
#include "http/HttpRequest.h"
#include "model/ProjectObject.h"

#include <QMutexLocker>

QJsonObject BaseConfig::getPresetResult(PRESETTYPE type, const HttpRequest& request)
{
    QString msg, username, token;
    if (!verifyCaller(request, msg, username, token, false))
        return apireply::error();
    const QJsonObject body = messageParsing(request);
    const QString pro_id = body.value(QLatin1String("pro_id")).toString();
    const QString layout_id = body.value(QLatin1String("layout_id")).toString();

    QMutexLocker lock(&programsMutex);
    const QSharedPointer<ProjectObject> program = requestProgram(pro_id);
    if (!program)
        return apireply::error();
    // The id names the preset's file when the change is saved.
    if (!apireply::validPresetId(layout_id))
        return apireply::error(msg);

    if ((type == PRESET_ADD || type == PRESET_RENAME) && apireply::nameTooLong(body))
        return apireply::error(apireply::nameTooLongMsg());

    bool done = false;
    // The preset the change is about, carried to its queued save.
    QString changed_id = layout_id;
    switch (type) {
    case PRESET_LIST:
        return program->getLayoutList();
    case PRESET_ADD:
        done = program->addLayout(body, msg, &changed_id);
        break;
    case PRESET_REMOVE:
        done = program->removeLayout(layout_id, msg);
        break;
    case PRESET_RENAME:
        done = program->setLayoutName(layout_id, body, msg);
        break;
    }
    if (!done)
        return apireply::error(msg);
    queuePush("sendPresetRequest", pro_id);
    program->onPresetChanged(type, changed_id);
    return apireply::ok();
}
