// ProjectObject: sources on positions, the take, tally and camera control.
#include "ProjectObject.h"

#include "base/ApiReplies.h"
#include "base/BusIds.h"

#include "PtzControl.h"
#include "WindowObject.h"
#include "media/FrameQueue.h"
#include "output/AudioOutputMixer.h"
#include "render/PreviewFrame.h"
#include "render/ProgramFrame.h"

#include <QDebug>
#include <QJsonArray>

// ---- Pushes and saves queued for later --------------------------------------

void ProjectObject::queueTallyPush()
{
    emit tallyChanged(pro_id);
}

// ---- Sources on positions --------------------------------------------------

bool ProjectObject::takeUnderway() const
{
    const std::shared_ptr<FrameQueue> program = ProgramFrame::instance()->getFrame(pro_id);
    const std::shared_ptr<FrameQueue> preview = PreviewFrame::instance()->getFrame(pro_id);
    return program && preview && program->getTakeState() && preview->getTakeState();
}

bool ProjectObject::assignBus(const QString& bus, const QString& from_win_id, int from_pos_id, const QString& source)
{
    const QSharedPointer<WindowObject> window = windows.value(bus);
    const std::shared_ptr<AudioOutputMixer>& mixer = bus == BusId::pvw() ? pvwMixer : pgmMixer;
    if (takeUnderway()) {
        qDebug() << QString("setsource to %1 and take is underway.").arg(bus);
        return false;
    }
    const QString current = window->getSource(1);
    if (!source.isEmpty() && source == current) {
        qDebug() << QString("setsource source is not empty and same as the %1 former.").arg(bus);
        return true;
    }
    QString stored_id;
    int stored_pos = 0;
    window->getFromPosition(stored_id, stored_pos);
    if (source.isEmpty() && current.isEmpty() && from_win_id == stored_id && from_pos_id == stored_pos) {
        qDebug() << QString("setsource source is emtpy and %1_id and %1_pos is not changed.").arg(bus);
        return true;
    }
    const bool fromChanged = window->setFromPosition(from_win_id, from_pos_id);
    if (mixer)
        mixer->setVideoSource(source, from_win_id, from_pos_id);
    // The bus shows its picture on position 1, whichever position was the target.
    window->setsource(source, pro_id, 1);
    queueTallyPush();
    if (fromChanged)
        saveLater(StateFile::Window, from_win_id);
    return true;
}

bool ProjectObject::setVideoRectSource(const QString& from_win_id, int from_pos_id, const QString& number, int offset,
    const QString& to_win_id, int to_pos_id, const QString& source)
{
    QString msg;
    return setVideoRectSource(from_win_id, from_pos_id, number, offset, to_win_id, to_pos_id, source, msg);
}

bool ProjectObject::setVideoRectSource(QString from_win_id, int from_pos_id, const QString& number, int offset,
    const QString& to_win_id, int to_pos_id, QString source, QString& msg)
{
    bool isNumber = false;
    const int asked = number.toInt(&isNumber, 10);
    if (!number.isEmpty() && offset >= 0 && isNumber && asked >= 1) {
        const int n = asked + offset;
        for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
            if (it.value() && it.value()->getSourceByNumber(n, from_pos_id, source)) {
                from_win_id = it.key();
                break;
            }
        }
        if (from_win_id.isEmpty() || from_pos_id <= 0) {
            qDebug() << "setsource from_win_id or from_win_pos is invalid :" << from_win_id << from_pos_id;
            return false;
        }
        qDebug() << "[setVideoRectSource] from tessmark the win_id is " << from_win_id << " pos_id is :" << from_pos_id
                 << " number is :" << n << " source is " << source;
    }

    const QSharedPointer<WindowObject> target = windows.value(to_win_id);
    const QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw());
    const QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm());
    if (!target || !pvw || !pgm) {
        qDebug() << "setsource to_id or pvw or pgm window object is invalid ." << to_win_id;
        return false;
    }
    const QSharedPointer<WindowObject> from = windows.value(from_win_id);

    // Preview dropped on program is a cut. The configured take time stays:
    // the cut is immediate only this once.
    if (from && from->isPvw(from_pos_id) && target->isPgm(to_pos_id)) {
        const bool taken = runTake(0, 1.0f, msg);
        queueTallyPush();
        if (taken)
            onGridChanged(GRID_BUS_WINDOWS, QString());
        return taken;
    }
    if (to_win_id == BusId::pvw() || target->isPvw(to_pos_id))
        return assignBus(BusId::pvw(), from_win_id, from_pos_id, source);
    if (to_win_id == BusId::pgm() || target->isPgm(to_pos_id))
        return assignBus(BusId::pgm(), from_win_id, from_pos_id, source);

    if (from && (from->isPgm(from_pos_id) || from->isPvw(from_pos_id))) {
        qDebug() << "不允许从pvw或pgm向其他普通窗口交换视频源。";
        return false;
    }
    if (target->getSource(to_pos_id) == source)
        return true;
    target->setsource(source, pro_id, to_pos_id);
    queueTallyPush();
    return true;
}

QJsonObject ProjectObject::getVideoRectSource(const QString& win_id, int pos_id) const
{
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (!window)
        return apireply::error();
    return QJsonObject { { "stream_id", window->getSource(pos_id) } };
}

// ---- Take ------------------------------------------------------------------

bool ProjectObject::doTake(const QJsonObject& request, QString& msg)
{
    if (!windows.value(BusId::pvw()) || !windows.value(BusId::pgm()))
        return false;
    // Stored before any refusal below, and kept when the take is refused.
    QString unused;
    setTakeParams(request, unused);
    const float progress = request.contains("progress") ? request.value("progress").toVariant().toFloat() : 1.0f;
    return runTake(take_time, progress, msg);
}

bool ProjectObject::runTake(int time, float progress, QString& msg)
{
    const QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw());
    const QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm());
    if (!pvw || !pgm)
        return false;
    const QString pvwSource = pvw->getSource(1);
    const QString pgmSource = pgm->getSource(1);
    if (pvwSource == pgmSource) {
        msg = "Take.sourceIsSame";
        qDebug() << "Take.sourceIsSame";
        return false;
    }
    const std::shared_ptr<FrameQueue> programQueue = ProgramFrame::instance()->getFrame(pro_id);
    const std::shared_ptr<FrameQueue> previewQueue = PreviewFrame::instance()->getFrame(pro_id);
    if (!programQueue || !previewQueue) {
        qDebug() << "dotake pvw or pgm frame ptr is null";
        return false;
    }
    const bool taking = programQueue->getTakeState() && previewQueue->getTakeState();
    qDebug() << "[doTake] time :" << time << "select :" << take_select << "progress :" << progress
             << "isTaking :" << (taking ? "true" : "false");
    // A cut (time 0) takes over a running transition; a timed one waits for it.
    if (time > 0 && taking) {
        msg = "Take.isUsing";
        qDebug() << "Take.isUsing";
        return false;
    }

    // Program queue first, always, as the bus tiles read them.
    programQueue->setTakeState(true);
    previewQueue->setTakeState(true);
    programQueue->setIsTaking(true);
    previewQueue->setIsTaking(true);
    pgm->take(1, time, take_select, progress, pvwSource);
    pvw->take(1, time, take_select, progress, pgmSource);

    if (progress >= 1.0f) {
        QString pvwFromId, pgmFromId;
        int pvwFromPos = 0, pgmFromPos = 0;
        pvw->getFromPosition(pvwFromId, pvwFromPos);
        pgm->getFromPosition(pgmFromId, pgmFromPos);
        // No signal: the bus tiles are already blending to the new sources.
        pvw->setStreamId(pgmSource, 1);
        pgm->setStreamId(pvwSource, 1);
        pvw->setFromPosition(pgmFromId, pgmFromPos);
        pgm->setFromPosition(pvwFromId, pvwFromPos);
        if (pvwMixer)
            pvwMixer->setVideoSource(pgmSource, pgmFromId, pgmFromPos);
        if (pgmMixer)
            pgmMixer->setVideoSource(pvwSource, pvwFromId, pvwFromPos);
        qDebug() << "dotake progress is 1.0  pvw is " << pvwSource << "pgm is " << pgmSource;
        queueTallyPush();
        onGridChanged(GRID_BUS_WINDOWS, QString());
        return true;
    }
    if (time < 1) {
        // A fader move: the tiles follow the progress; nothing is exchanged yet.
        programQueue->setTakeState(false);
        previewQueue->setTakeState(false);
    }
    return true;
}

// ---- Tally -----------------------------------------------------------------

QJsonObject ProjectObject::getTallyState() const
{
    const QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw());
    const QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm());
    if (!pvw || !pgm)
        return apireply::ok(QJsonObject { { "pvw_numbers", "" }, { "pgm_numbers", "" } });

    const QString pvwSource = pvw->getSource(1);
    const QString pgmSource = pgm->getSource(1);
    QString pvwId, pgmId;
    int pvwPos = 0, pgmPos = 0;
    pvw->getFromPosition(pvwId, pvwPos);
    pgm->getFromPosition(pgmId, pgmPos);

    QString pvwList, pgmList;
    for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
        if (BusId::isBus(it.key()) || !it.value())
            continue;
        // A bus without a source counts the position it was filled from.
        const int pvwFrom = pvwSource.isEmpty() && pvwId == it.key() ? pvwPos : 0;
        const int pgmFrom = pgmSource.isEmpty() && pgmId == it.key() ? pgmPos : 0;
        qDebug() << "[getTallyState] pro_id :" << pro_id << " win_id :" << it.key() << "pvw_id :" << pvwId
                 << "pgm_id :" << pgmId << "pvw_pos :" << pvwFrom << "pgm_pos :" << pgmFrom;
        it.value()->getTallyState(pvwSource, pgmSource, pvwFrom, pgmFrom, pvwList, pgmList);
    }
    qDebug() << "getTallyState pvwlist :" << pvwList << "pgmlist :" << pgmList;

    const auto toArray
        = [](const QString& list) { return QJsonArray::fromStringList(list.split(',', Qt::SkipEmptyParts)); };
    return apireply::ok(
        QJsonObject { { "pro_id", pro_id }, { "pvw_numbers", toArray(pvwList) }, { "pgm_numbers", toArray(pgmList) } });
}

// ---- PTZ -------------------------------------------------------------------

bool ProjectObject::setPtzControl(const QJsonObject& request, QString& /*msg*/)
{
    QString win_id = request.value("win_id").toString();
    const QString type = request.value("type").toString();
    int pos_id = request.value("pos_id").toInt(-1);
    const int number_id = request.contains("pos_id") ? -1 : request.value("number_id").toInt(-1);
    const QJsonObject data = request.value("data").toObject();
    if (type.isEmpty()) {
        qDebug() << "类型为空或窗口id为空或未找到要设置的窗口";
        return false;
    }
    qDebug() << "[setPtzControl] win_id :" << win_id << "pos_id :" << pos_id << "number_id :" << number_id;

    QString source;
    const QSharedPointer<WindowObject> window = windows.value(win_id);
    if (pos_id >= 1 && window) {
        // A bus position steers the camera whose picture the bus shows.
        const QSharedPointer<WindowObject> pvw = windows.value(BusId::pvw());
        const QSharedPointer<WindowObject> pgm = windows.value(BusId::pgm());
        if (window->isPvw(pos_id) && pvw)
            source = pvw->getSource(1);
        else if (window->isPgm(pos_id) && pgm)
            source = pgm->getSource(1);
        else
            source = window->getSource(pos_id);
    } else {
        for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
            if (it.value() && it.value()->getSourceByNumber(number_id, pos_id, source)) {
                win_id = it.key();
                break;
            }
        }
    }
    if (win_id.isEmpty() || source.isEmpty()) {
        qDebug() << "窗口id为空或未找到要设置的窗口";
        return false;
    }
    qDebug() << "[setPtzControl] win_id :" << win_id << "pos_id :" << pos_id << "source :" << source;

    const std::shared_ptr<PtzControl> camera = PtzControl::connectionOf(source);
    if (!camera) {
        qDebug() << QString("error: %1 set failed.").arg(type);
        return false;
    }
    return camera->apply(type, data);
}
