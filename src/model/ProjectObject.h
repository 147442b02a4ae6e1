#pragma once
// ProjectObject: one program (production): its identity and canvas
// parameters, its stored presets, its windows ("pvw", "pgm" and the windows
// users add), its own layout template store and its two audio mixers.
//
// Owner: the controller's program map (QSharedPointer), made without parent.
// Thread: lives on the GUI thread. The request layer calls it from the HTTPS
// thread and the push builders from the controller's worker, both holding the
// controller's program-map lock. The change slots only say which files a
// change touched: each file is handed to the controller's save queue
// (setSaveRequest), whose savers store it later with storeFile, or,
// for a program without a controller, stored at once. storeFile takes that
// same lock while it copies the state out of the maps and writes outside
// it. Each change slot is told the id of the window or preset it is about;
// none looks up "the newest" one, since other requests may have come
// between. A new window is built without the lock and enters the window
// map finished. The object has no lock of its own.
//
// On disk (folder `path`): "presets/preset_<layout_id>.json" and
// "windows/window_<win_id>.json", each written atomically.
//
// The methods are kept in topic files: ProjectObject.cpp (parameters,
// mixers, window start-up, replies, window and program settings),
// ProjectObjectRecord.cpp (record, folder, saves), ProjectObjectPresets.cpp,
// ProjectObjectWindows.cpp (add, change, close, numbering ranges) and
// ProjectObjectSources.cpp (sources on positions, take, tally, PTZ).
#include "HeldRanges.h"
#include "base/RequestTypes.h"

#include <QAudioDeviceInfo>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSharedPointer>
#include <QString>

#include <functional>
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

    // One file of the program folder: a window's or a preset's.
    enum class StateFile { Window, Preset };
    // Given by the controller: queues a file to be stored by storeFile.
    using SaveRequest = std::function<void(StateFile kind, const QString& id)>;
    void setSaveRequest(SaveRequest request);
    // Stores a file as the model is now: written while its window or preset
    // exists, removed once it has gone (ids of the program's own kinds only).
    void storeFile(StateFile kind, const QString& id);
    // Every window file, and with presets every preset file, to be stored.
    void saveFilesLater(bool presets);

    // Start-up of a program: mixers first, then the windows (a program
    // without windows gets "pvw", "pgm" and a first window "Main").
    void createAudioMixers();
    void createWindows();
    void changeAudioDevice(const QAudioDeviceInfo& device);
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

    // Window settings (the window must exist; false or an "error" reply otherwise).
    bool setOutputType(const QString& win_id, const QJsonObject& request);
    bool clearSources(const QString& win_id);
    bool removeSource(const QString& win_id, int pos_id);
    bool setControlState(const QString& win_id, const QJsonObject& request);
    bool setWinPosition(const QString& win_id, const QJsonObject& request);

    // Program settings. setStatus starts or stops every window.
    void setStatus(bool status);
    bool setTakeParams(const QJsonObject& request, QString& msg);
    QJsonObject getTakeParams() const;

    // Presets. An add or resave that makes a preset reports its id in
    // made_id, so the save queued after it writes that preset.
    bool addLayout(const QJsonObject& request, QString& msg, QString* made_id = nullptr);
    bool removeLayout(const QString& layout_id, QString& msg);
    bool setLayoutName(const QString& layout_id, const QJsonObject& request, QString& msg);
    bool setLayout(const QString& win_id, const QString& layout_id);
    bool modifyLayout(const QJsonObject& request, QString& msg);
    bool saveLayout(const QJsonObject& request, QString& msg);
    bool resaveLayout(const QString& win_id, const QJsonObject& request, QString& msg, QString* made_id = nullptr);

    // Window add/change and close checks and operations. A range is
    // acceptable when it is valid and meets no other numbered window's range.
    bool checkIsDuplicateRange(const QString& win_id, int min, int max) const;
    bool checkAddWinValid(const QJsonObject& request, QString& msg) const;
    bool checkRemoveWinValid(const QJsonObject& request, QString& msg) const;
    // A new window's id, name and numbers, taken when the add is accepted
    // (before the window is made on the GUI thread), so no later request
    // takes any of them; the made window is then saved under that id.
    QString reserveWindow(const QJsonObject& request);
    // The numbers an accepted change of win_id asks for, held until the
    // queued change runs, so no other add or change acknowledged meanwhile
    // can take them.
    void holdWindowRange(const QString& win_id, const QJsonObject& request);
    // Makes the window reserved under win_id; on failure the reservation
    // goes. Takes the lock itself: the caller must not hold it.
    bool addReservedWindow(const QString& win_id, const QJsonObject& request);
    bool switchWindow(const QString& win_id);

    // Sources on positions, the bus windows included. msg receives the
    // take's message when the assignment is a cut.
    bool setVideoRectSource(QString from_win_id, int from_pos_id, const QString& number, int offset,
        const QString& to_win_id, int to_pos_id, QString source, QString& msg);
    bool setVideoRectSource(const QString& from_win_id, int from_pos_id, const QString& number, int offset,
        const QString& to_win_id, int to_pos_id, const QString& source);
    QJsonObject getVideoRectSource(const QString& win_id, int pos_id) const;

    // Take: preview to program with the stored or requested transition.
    bool doTake(const QJsonObject& request, QString& msg);
    // The tally numbers on the preview and on the program bus.
    QJsonObject getTallyState() const;
    // One camera command to the source shown on a position or under a tally number.
    bool setPtzControl(const QJsonObject& request, QString& msg);

    // Numbering range and position show options.
    QJsonObject getWindowParam(const QString& win_id) const;
    QJsonObject getWindowRange(const QString& win_id) const;
    bool setWindowRange(const QString& win_id, const QJsonObject& request, QString& msg);
    QJsonObject getVideoRectShowOptions(const QString& win_id, int pos_id) const;
    bool setVideoRectShowOptions(const QString& win_id, const QJsonObject& request);
    bool setVideoRectAudioType(const QString& win_id, const QJsonObject& request);

signals:
    // A new window is built (renderer, encoder, outputs) and enters the
    // window map next; emitted on the window's thread without the lock.
    void windowBuilt(QString win_id);
    // What the clients see changed: the tally of the program's sources, or
    // one window's grid. Emitted on the thread that made the change; whoever
    // serves the clients pushes the new state.
    void tallyChanged(QString pro_id);
    void gridChanged(QString pro_id, QString win_id);

public slots:
    // Both take the lock themselves: the caller must not hold it.
    bool setWindow(const QJsonObject& request, QString msg);
    bool onProcessClose(const QJsonObject& request);
    void onWindowChanged(WINDOWTYPE type, const QString& win_id);
    void onGridChanged(GRIDTYPE type, const QString& win_id);
    // layout_id: the preset the change made or changed (a resave's new
    // preset, a save's target), named when the change was made.
    void onGridChanged(GRIDTYPE type, const QString& win_id, const QString& layout_id);
    void onPresetChanged(PRESETTYPE type, const QString& layout_id);

private:
    // A window whose grid changes the program announces as its own.
    QSharedPointer<WindowObject> newWindow();
    QSharedPointer<WindowObject> makeWindow(const QString& win_id, const QString& win_name);
    // Writes one file of the program folder (atomically), making the folders first.
    bool saveFile(const char* operation, const char* folderKind, const QString& folderName, const char* fileKind,
        const QString& fileName, const QJsonObject& object) const;
    bool writeStateFile(StateFile kind, const QString& id, const QJsonObject& object) const;
    void removeFile(const QString& file) const;
    static bool isStoredId(const QString& id);
    // Range rule of an add or change: keepsStored lets a window keep the
    // range it already uses, even where stored windows overlap.
    bool rangeAccepted(const QString& win_id, int min, int max, bool keepsStored) const;
    bool windowNameTaken(const QString& win_id, const QString& win_name) const;
    // Takes the lock itself; the caller must not hold it, since a new
    // window is built without it.
    bool applyWindow(const QJsonObject& request, const QString& win_id, bool isNew, QString& msg);
    // Gives up one range held for win_id (the lock held).
    void releaseWindowRange(const QString& win_id);
    bool presetNameTaken(const QString& name) const;
    // The window a request's "win_id" names; null, logging `missing` when no
    // such window exists, or when the request has no "win_id".
    QSharedPointer<WindowObject> requestWindow(const QJsonObject& request, const char* missing) const;
    // Runs the program's state into a window: started only while the program runs.
    void applyStatus(const QSharedPointer<WindowObject>& window) const;
    // The take with a transition time that is not stored.
    bool runTake(int time, float progress, QString& msg);
    bool takeUnderway() const;
    bool assignBus(const QString& bus, const QString& from_win_id, int from_pos_id, const QString& source);
    void queueTallyPush();
    // The queued store of one file (or, without a save queue, the store).
    void saveLater(StateFile kind, const QString& id);
    // The file of a window or preset as it is now; false when it has none.
    bool windowFile(const QString& win_id, QJsonObject& object) const;
    bool presetFile(const QString& layout_id, QJsonObject& object) const;
    bool stateFile(StateFile kind, const QString& id, QJsonObject& object) const;
    // saveWindow and savePreset: copies the file under the lock, writes it outside.
    bool saveStateFile(StateFile kind, const QString& id);
    // The program's identity and canvas to the two bus windows.
    void applyBusParams();

    QRecursiveMutex* modelLock;
    SaveRequest saveRequest;
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
    // Ranges of accepted window adds and changes not made yet.
    HeldRanges heldRanges;
    std::shared_ptr<AudioOutputMixer> pvwMixer;
    std::shared_ptr<AudioOutputMixer> pgmMixer;
    int lastWinId = 0;
    QString currentWinId;
    int take_time = 0;
    int take_select = 1;
};
