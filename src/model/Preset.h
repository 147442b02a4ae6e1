#pragma once
// The layout state of one window arrangement of a program: the layout's
// identity, its positions with their sources, overlay options and tally
// flags, the window-wide overlays, the screen and live output selection and
// the tally numbering range.
//
// A program holds its stored presets through QSharedPointer; every window
// (WindowObject) is a Preset too. Objects live on the GUI thread, but their
// operations are called on the caller's thread (GUI or HTTPS): every
// operation that reads or writes the positions holds the recursive
// positions_mutex, whole-state ones (JSON form, layout application) included,
// so they never interleave with a per-position writer. The window-wide fields
// are plain fields set by the program's operations under the controller's
// program lock. Every change is announced through the signals below, which the
// window's scene and renderer follow.
#include "PresetVideo.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QRecursiveMutex>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <functional>

// Orders layout positions by ascending "z_index". Elements without one (or
// that are no objects) sort after all others, so the relation stays a strict
// weak ordering for any input; use it with a stable sort to keep their order.
bool caseInsensitiveLessThan(const QJsonValue& a, const QJsonValue& b);

class Preset : public QObject {
    Q_OBJECT
public:
    explicit Preset(QObject* parent = nullptr);
    ~Preset() override;

    // Tells whether a screen index names an output screen. Screen outputs are
    // known to the rendering side, which installs its check once at start-up,
    // before any window exists; until then only "no screen output" (an index
    // below 1) is accepted.
    using ScreenIndexCheck = std::function<bool(int screenIndex)>;
    static void setScreenIndexCheck(ScreenIndexCheck check);

    // Layout identity; none of these emits or touches the modified mark.
    QString getLayoutId() const;
    void setLayoutId(const QString& id);
    QString getLayoutName() const;
    void setLayoutName(const QString& name);

    // JSON form. "win_save" (window files) adds the window-only members; any
    // other mode, "none" and "win_load" included, writes the common form.
    QJsonObject writePreset(const QString& mode) const;
    // Lenient: stops silently at the first missing required key, keeping what
    // it has read so far (positions and control flags are emptied first).
    void readPreset(const QJsonObject& json, const QString& mode);
    // Takes over source's state in the given mode and clears the modified mark.
    void load(const QSharedPointer<Preset>& source, const QString& mode);
    QJsonArray writeAngles() const;
    void readAngles(const QJsonArray& array);
    // A preset file: the common form plus "angles".
    QJsonObject writePresetFile() const;
    void readPresetFile(const QJsonObject& file);

    // Applies a layout object ({"layout_id", "position": [...], "name"?}).
    // All or nothing: false leaves the preset exactly as it was.
    bool setLayoutJson(const QString& pro_id, const QJsonObject& layout);
    QJsonObject getLayoutJson() const;

    // Positions and sources.
    void setUsedState(const QString& id, bool used);
    QString getPatternName(const QString& pro_id, const QString& type, const QString& source, int number) const;
    void setsource(const QString& source, const QString& pro_id, int pos_id);
    void setStreamId(const QString& source, int pos_id);
    QString getSource(int pos_id) const;
    bool isPvw(int pos_id) const;
    bool isPgm(int pos_id) const;
    void removeSource(int pos_id);
    void clearSources();
    void setPosition(int screenIndex, bool isFull);
    void getPosition(QJsonObject& reply) const;
    void setOutputType(const QString& select);
    void getOutputType(QJsonObject& reply) const;
    void setModified(bool modified);
    bool getModified() const;
    bool setFromPosition(const QString& id, int pos);
    void getFromPosition(QString& id, int& pos) const;
    bool setFrameRate(int pos_id, float fps);
    bool setAspectRatio(int pos_id, int xres, int yres);
    void setAngle(int pos_id, int angle);
    void take(int pos_id, int time, int type, float progress, const QString& source);
    // Re-announces the whole state to a fresh or re-laid-out scene;
    // keepOutputs leaves the screen and live output unannounced.
    void changeAll(const QString& pro_id, bool keepOutputs);

    // Tally numbering: a position's tally number is number + num_min - 1.
    void getNumRange(int& min, int& max) const;
    bool setNumRange(int min, int max, bool force);
    bool getNumUsed() const;
    bool setNumUsed(bool used);
    void getTallyState(const QString& pvwSource, const QString& pgmSource, int pvwPos, int pgmPos, QString& pvwList,
        QString& pgmList) const;
    bool getSourceByNumber(int tallyNumber, int& pos_id, QString& source) const;
    void changeTallyState(const QString& source, const QString& type);
    void changeTallyState(int pos_id, const QString& type, bool on);
    void getTallyState(QString& pvwList, QString& pgmList) const;

    // Overlays.
    QJsonObject getControlState() const;
    void setControlState(const QString& type, bool enable); // a window-wide flag
    void setControlState(const QString& type, bool enable, const QString& color); // the border
    void setControlState(const QString& color, int size); // the label font
    void setControlState(int audioGain);
    void getVideoRectOptions(const QString& pro_id, int pos_id, QJsonObject& reply) const;
    void setVideoRectOptions(int pos_id, const QString& type, bool enable);
    bool getLayoutParams(
        QJsonObject& reply, const QString& pvwSource, const QString& pgmSource, const QString& pro_id) const;

signals:
    void layoutChanged(const QString& jsonString);
    void borderChanged(int enable, const QString& color);
    void sendTallyOption(int pos_id, const QString& type);
    void sendSingleState(int pos_id, const QString& type, bool enable);
    void sendStateOption(const QString& type, bool enable);
    void fontChanged(const QString& color, int size);
    void audioGainChanged(int audioGain);
    void positionChanged(int screenIndex, bool isFull);
    void liveChanged(const QString& select);
    void sendSource(int pos_id, const QString& source, const QString& name);
    void deleteAll();
    void takeChanged(int time, int type, float progress, const QString& source);
    void audioTypeChanged(int pos_id, const QString& type);
    void numRangeChanged(bool used, int min, int max);
    void angleChanged(int pos_id, int angle);

protected:
    bool rangeValid() const;

    QString layout_name;
    QString layout_id;
    int layout_count = 0;
    int audio_gain = 0;
    bool border_enable = false;
    QString border_color = QStringLiteral("#8c8c8c");
    int font_size = 18;
    QString font_color = QStringLiteral("#ffffff");
    QString live_select;
    int screen_select = 0;
    bool screen_isFull = false;
    bool num_used = false;
    int num_min = 0;
    int num_max = 0;
    bool modified = false;
    QStringList layout_used;
    QMap<QString, bool> control_flags;
    QMap<int, PresetVideo> positions;
    QString from_id;
    int from_pos = 0;
    mutable QMutex from_mutex;
    mutable QRecursiveMutex positions_mutex;
};
