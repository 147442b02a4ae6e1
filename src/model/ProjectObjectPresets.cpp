// ProjectObject: the presets of a program and their use by windows.
#include "ProjectObject.h"

#include "LayoutTemplate.h"
#include "Preset.h"
#include "WindowObject.h"

#include <QDebug>

#include <algorithm>

// ---- Presets ---------------------------------------------------------------

bool ProjectObject::presetNameTaken(const QString& presetName) const
{
    return std::find(presetNames.cbegin(), presetNames.cend(), presetName) != presetNames.cend();
}

bool ProjectObject::addLayout(const QJsonObject& request, QString& msg, QString* made_id)
{
    if (!request.contains("name") || !request.contains("template_id")) {
        qDebug() << "ProjectObject addLayout failed, because there is no name or template_id.";
        return false;
    }
    // The id is used up even when the name is refused.
    const QString layout_id = QString::number(++lastPresetId);
    const QString presetName = request.value("name").toString();
    if (presetNameTaken(presetName)) {
        msg = "preset.nameError";
        qDebug() << "ProjectObject addLayout failed, because preset name is error.";
        return false;
    }
    presetNames.insert(layout_id, presetName);

    const QString template_id = request.value("template_id").toString();
    int count = 0;
    QJsonObject layout;
    if (layoutTemplate) {
        count = layoutTemplate->getLayoutCount(template_id);
        layout = layoutTemplate->getSelecctTemplate(template_id);
    }
    layout.remove("template_id");
    layout.remove("template_count");
    layout.insert("layout_id", layout_id);
    layout.insert("layout_count", count);
    layout.insert("name", presetName);

    QSharedPointer<Preset> preset(new Preset);
    presets.insert(layout_id, preset);
    if (made_id)
        *made_id = layout_id;
    return preset->setLayoutJson(pro_id, layout);
}

bool ProjectObject::removeLayout(const QString& layout_id, QString& msg)
{
    if (!presets.value(layout_id)) {
        qDebug() << "未找到要删除的这个预设";
        return false;
    }
    // In use means some window shows it now; the preset's own list of users
    // is not what decides.
    for (const QSharedPointer<WindowObject>& window : qAsConst(windows)) {
        if (window && window->getLayoutId() == layout_id) {
            qDebug() << "这个预设正在使用中";
            msg = "这个预设正在使用中";
            return false;
        }
    }
    presets[layout_id].reset();
    presets.remove(layout_id);
    presetNames.remove(layout_id);
    return true;
}

bool ProjectObject::setLayoutName(const QString& layout_id, const QJsonObject& request, QString& msg)
{
    if (!presets.contains(layout_id) || !request.contains("name"))
        return false;
    const QString newName = request.value("name").toString();
    const auto known = presetNames.constFind(layout_id);
    if (known != presetNames.constEnd() && known.value() != newName && presetNameTaken(newName)) {
        msg = "preset.nameError";
        return false;
    }
    presetNames.insert(layout_id, newName);
    if (const QSharedPointer<Preset> preset = presets.value(layout_id))
        preset->setLayoutName(newName);
    return true;
}

bool ProjectObject::setLayout(const QString& win_id, const QString& layout_id)
{
    qDebug() << "setLayout" << win_id << layout_id;
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window) {
        qDebug() << QString("ProjectObject setLayout failed, because win_id[%1] is invalid.").arg(win_id);
        return false;
    }
    const QString old = window->getLayoutId();
    const QSharedPointer<Preset> preset = presets.value(layout_id);
    if (!preset) {
        qDebug() << QString("ProjectObject setLayout failed, because layout_id[%1] is invalid.").arg(layout_id);
        return false;
    }

    if (const QSharedPointer<Preset> previous = presets.value(old))
        previous->setUsedState(win_id, false);
    preset->setUsedState(win_id, true);
    qDebug() << "setLayout update usedState successful. " << win_id << layout_id;

    // Rendering pauses while the window takes the layout over. A window of a
    // stopped program stays stopped.
    applyStatus(window);
    window->enableRender(false);
    qDebug() << "setLayout enableRender(false) successful. " << win_id << layout_id;
    window->load(preset, "win_load");
    qDebug() << "setLayout load() successful. " << win_id << layout_id;
    window->changeAll(pro_id, false);
    qDebug() << "setLayout changeAll() successful. " << win_id << layout_id;
    window->enableRender(true);
    qDebug() << QString("ProjectObject setLayout success, id:[%1] layout_id[%2].").arg(win_id, layout_id);
    return true;
}

QSharedPointer<WindowObject> ProjectObject::requestWindow(const QJsonObject& request, const char* missing) const
{
    if (!request.contains("win_id"))
        return nullptr;
    QSharedPointer<WindowObject> window = windows.value(request.value("win_id").toString());
    if (!window)
        qDebug() << missing;
    return window;
}

bool ProjectObject::modifyLayout(const QJsonObject& request, QString& /*msg*/)
{
    const QSharedPointer<WindowObject> window = requestWindow(request, "未找到要修改的这个窗口");
    if (!window)
        return false;
    QJsonObject layout = request;
    layout.remove("pro_id");
    layout.remove("win_id");
    const bool applied = window->setLayoutJson(pro_id, layout);
    window->changeAll(pro_id, true);
    return applied;
}

bool ProjectObject::saveLayout(const QJsonObject& request, QString& /*msg*/)
{
    const QSharedPointer<WindowObject> window = requestWindow(request, "未找到要保存的这个预设");
    if (!window)
        return false;
    const QSharedPointer<Preset> preset = presets.value(window->getLayoutId());
    if (!preset)
        return false;
    window->setModified(false);
    preset->load(window, "none");
    return true;
}

bool ProjectObject::resaveLayout(const QString& win_id, const QJsonObject& request, QString& msg, QString* made_id)
{
    if (!request.contains("name"))
        return false;
    const QString presetName = request.value("name").toString();
    if (presetNameTaken(presetName)) {
        msg = "preset.nameError";
        qDebug() << "ProjectObject resaveLayout failed, because preset name is error.";
        return false;
    }
    QSharedPointer<Preset> source;
    const QString copied = request.value("layout_id").toString();
    if (!copied.isEmpty())
        source = presets.value(copied);
    if (!source)
        source = windows.value(win_id);
    if (!source)
        return false;

    const QString new_id = QString::number(++lastPresetId);
    presetNames.insert(new_id, presetName);
    QSharedPointer<Preset> preset(new Preset);
    presets.insert(new_id, preset);
    preset->load(source, "none");
    preset->setLayoutName(presetName);
    preset->setLayoutId(new_id);
    if (made_id)
        *made_id = new_id;
    return true;
}
