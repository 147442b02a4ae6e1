#pragma once
// WindowObject: one output window of a program: the preview window "pvw",
// the program window "pgm" or a window a user added. As a Preset it carries
// the window's layout state; it adds the window's identity and geometry, its
// stored record (the window file), its off-screen renderer, the program's two
// audio mixers and its render tick.
//
// Owner: its program (ProjectObject), through a QSharedPointer; the program
// calls destroy() before it lets the window go. Thread: lives on the GUI
// thread and is configured by the program on the caller's thread (GUI or
// HTTPS, under the controller's program lock). requestUpdate() runs on the
// tick thread and reaches the renderer under render_mutex.
#include "Preset.h"

#include <QJsonObject>
#include <QMutex>
#include <QSharedPointer>
#include <QString>

#include <memory>

class AudioOutputMixer;
class MyTimer;
class WindowMultiThreaded;

class WindowObject : public Preset {
    Q_OBJECT
public:
    WindowObject();
    ~WindowObject() override;

    void setWinParams(const QString& pro_id, const QString& pro_name, const QString& win_id, const QString& name,
        double width, double height, double frameRate);
    void changeProName(const QString& pro_name);
    void setAspect(int index, double aspect);
    void getAspect(int& index, double& aspect) const;
    double getFrameRate() const { return frameRate; }
    QString getWinName() const { return name; }
    QString getWinId() const { return win_id; }
    QString getProId() const { return pro_id; }
    QString getProName() const { return pro_name; }
    void getSize(double& width, double& height) const;
    void setNdi_web_url(const QString& url);
    void setAudioMixerObject(std::shared_ptr<AudioOutputMixer> pgm, std::shared_ptr<AudioOutputMixer> pvw);
    // Builds the renderer and its outputs; needs both mixers.
    void createWindow();
    void start();
    void stop();
    bool isStarted() const { return started; }
    void enableRender(bool enable);
    // Stops the tick and releases the renderer and the mixers; repeats find nothing.
    void destroy();

    // The window file: {"data": record, ...}; read keeps everything when a
    // required member is missing.
    bool read(const QJsonObject& file);
    void write(QJsonObject& file) const;
    // Hands the frame rate to the tick timer (the rule of the window's rate).
    void refreshFrameRate(double rate);

    QSharedPointer<WindowMultiThreaded> getRenderer() const;
    MyTimer* getTickTimer() const { return tick_timer; }

signals:
    void startRender(int pos_id);
    void gridChanged(QString pro_id, QString win_id);
    void takeEffectChanged(int type);

public slots:
    void onAudioTypeChanged(int pos_id, const QString& type);
    void onFrameRateChanged(int pos_id, float frameRate);
    void onAspectRatioChanged(int pos_id, int xres, int yres);
    void changeScreenState(int screenIndex, bool isFull);
    void changeNDIState(const QString& select);
    void requestUpdate();

private:
    QString rendererName() const;
    void pushGrid();

    QString ndi_web_url;
    mutable QMutex render_mutex;
    QSharedPointer<WindowMultiThreaded> renderer;
    std::shared_ptr<AudioOutputMixer> pgmMixer;
    std::shared_ptr<AudioOutputMixer> pvwMixer;
    QString pro_id;
    QString pro_name;
    QString win_id;
    QString name;
    double width = 0.0;
    double height = 0.0;
    int index = 0;
    double aspect = 0.0;
    double frameRate = 0.0;
    MyTimer* tick_timer;
    bool started = false;
    // The rate the tick timer runs at; it follows frameRate whenever that is set.
    double timer_rate = 16.0;
};
