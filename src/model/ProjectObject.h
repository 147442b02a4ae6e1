#pragma once
// ProjectObject: one program (production): its identity and canvas
// parameters, its stored presets, its windows ("pvw", "pgm" and the windows
// users add), its own layout template store and its two audio mixers.
//
// Owner: the controller's program map (QSharedPointer), made without parent.
// Thread: lives on the GUI thread. The request layer calls it from the HTTPS
// thread and the push builders from the controller's worker, both holding the
// controller's program-map lock; the change slots (queued by name) and save
// take that same lock while they read the maps and write files. The object
// has no lock of its own.
//
// On disk (folder `path`): "presets/preset_<layout_id>.json" and
// "windows/window_<win_id>.json", each written atomically.
#include "RequestTypes.h"

#include <QAudioDeviceInfo>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <memory>

class AudioOutputMixer;
class LayoutTemplate;
class Preset;
class QRecursiveMutex;
class WindowObject;

// Order of window lists: by the unsigned decimal value of the ids (text that
// is no such number, "pvw" and "pgm" included, counts as 0).
bool compareData(const QString& a, const QString& b);

class ProjectObject : public QObject {
    Q_OBJECT
public:
    // modelLock is the controller's program-map lock, taken by the change
    // slots and save; null (tests of a lone program) means no locking.
    explicit ProjectObject(QRecursiveMutex* modelLock = nullptr);
    ~ProjectObject() override;

    void setPath(const QString& path);
    QString getPath() const { return path; }
    void setWebUrl(const QString& url);
    QString getProId() const { return pro_id; }
    QString getName() const { return name; }
    void setName(const QString& name);
    bool getStatus() const { return status; }

    // Program parameters (stored in the program record).
    void setParams(const QString& pro_id, const QString& name, double width, double height, double frameRate);
    void getParams(double& width, double& height, double& frameRate) const;
    void setAspect(int index, double aspect);
    void getAspect(int& index, double& aspect) const;

    // The program record of "programs.json". read takes every member that is
    // present; a missing one keeps its current value and is logged.
    void write(QJsonObject& record) const;
    bool read(const QJsonObject& record);

    // The program folder: load reads every preset and window file in it;
    // save writes them all.
    bool load();
    bool save();
    bool saveWindow(const QString& win_id);
    bool savePreset(const QString& layout_id);

    // Start-up of a program: mixers first, then the windows (a program
    // without windows gets "pvw", "pgm" and a first window "Main").
    void createAudioMixers();
    void createWindows();
    void changeAudioDevice(QAudioDeviceInfo device);
    // Takes every window off its screen; the destructor releases the rest.
    void destroy();

    QSharedPointer<WindowObject> getWindow(const QString& win_id) const;
    QSharedPointer<Preset> getPreset(const QString& layout_id) const;
    QString getWinLayoutId(const QString& win_id) const;
    QString getFirstWinId() const;
    QString getCurrentWinId() const { return currentWinId; }
    int getLastWinId() const { return lastWinId; }
    int getLastPresetId() const { return lastPresetId; }
    std::shared_ptr<AudioOutputMixer> getPvwMixer() const { return pvwMixer; }
    std::shared_ptr<AudioOutputMixer> getPgmMixer() const { return pgmMixer; }

    // Replies for the push messages and the control API.
    QJsonObject getWindowList() const;
    QJsonObject getLayoutList() const;
    QJsonObject getLayoutParams(const QString& win_id) const;
    QJsonObject getControlState(const QString& win_id) const;
    QJsonObject getOutputType(const QString& win_id) const;
    QJsonObject getWinPosition(const QString& win_id) const;

    // Window add/change and close checks and operations.
    bool checkIsDuplicateRange(const QString& win_id, int min, int max) const;

public slots:
    bool setWindow(const QJsonObject& request, QString msg);
    bool onProcessClose(const QJsonObject& request);
    void onWindowChanged(WINDOWTYPE type, const QString& win_id);
    void onGridChanged(GRIDTYPE type, const QString& win_id);
    void onPresetChanged(PRESETTYPE type, const QString& layout_id);

private:
    QSharedPointer<WindowObject> makeWindow(const QString& win_id, const QString& win_name);
    // Writes one file of the program folder (atomically), making the folders first.
    bool saveFile(const char* operation, const char* folderKind, const QString& folderName, const char* fileKind,
        const QString& fileName, const QJsonObject& object) const;
    void removeFile(const QString& file) const;
    static bool isStoredId(const QString& id);

    QRecursiveMutex* modelLock;
    QString path;
    QString webUrl;
    QString pro_id;
    QString name;
    double width = 1280.0;
    double height = 720.0;
    int index = 1;
    double aspect = 0.0;
    double frameRate = 0.0;
    bool status = false;
    QMap<QString, QSharedPointer<Preset>> presets;
    QMap<QString, QString> presetNames;
    int lastPresetId = 0;
    LayoutTemplate* layoutTemplate;
    QMap<QString, QSharedPointer<WindowObject>> windows;
    QMap<QString, QString> windowNames;
    std::shared_ptr<AudioOutputMixer> pvwMixer;
    std::shared_ptr<AudioOutputMixer> pgmMixer;
    int lastWinId = 0;
    QString currentWinId;
    int take_time = 0;
    int take_select = 1;
};
