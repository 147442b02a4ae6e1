#pragma once
// WindowMultiThreaded: the off-screen renderer of one output window. It owns
// the window's QML engine, in which the window's scene will be loaded, and
// the window's outputs (NDI, screen, H.264 encoder).
//
// For now it keeps what its window configures (identity, name, size, frame
// rate, output switches, the scene file) and counts the render ticks it is
// asked for; it renders nothing and sends nothing yet.
//
// Owner: its WindowObject, through a QSharedPointer; destroyed with the last
// reference. Thread: lives on the GUI thread; refreshUI() is called on the
// window's tick thread.
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QQmlEngine;

class WindowMultiThreaded : public QObject {
    Q_OBJECT
public:
    WindowMultiThreaded();
    ~WindowMultiThreaded() override;

    void setId(const QString& pro_id, const QString& win_id);
    void setName(const QString& name);
    // Negative sizes become 0 and odd ones the even size below.
    void resize(int w, int h);
    // Changes below 0.01 are ignored; a negative rate is stored as 50.
    void setFrameRate(double fps);
    QQmlEngine* getQmlEngine() const;
    // Only the first call takes effect.
    void loadQmlFile(const QString& path);
    void createZtEncoder();
    void setNDIEnable(bool enable);
    void setScreenOutEnable(bool enable);
    // Asks for one render; called on the window's tick thread.
    void refreshUI();
    void startRender();
    void stopRender();
    void destroy();
    void enableRender(bool enable);

    QString proId() const { return pro_id; }
    QString winId() const { return win_id; }
    QString name() const { return output_name; }
    int width() const { return scene_width; }
    int height() const { return scene_height; }
    double frameRate() const { return frame_rate; }
    QString qmlFile() const { return qml_file; }
    int encoderBuilds() const { return encoder_builds; }
    int refreshCount() const { return refresh_count; }
    bool isRenderEnabled() const { return render_enabled; }
    int screenIndex() const { return screen_index; }
    QString liveSelect() const { return live_select; }

public slots:
    void onProcessPosition(int screenIndex, bool isFull);
    void onProcessLive(const QString& select);

private:
    QString pro_id;
    QString win_id;
    QString output_name;
    int scene_width = 16;
    int scene_height = 16;
    double frame_rate = 50.0;
    std::unique_ptr<QQmlEngine> engine;
    QString qml_file;
    int encoder_builds = 0;
    std::atomic<int> refresh_count { 0 };
    std::atomic<bool> render_enabled { true };
    int screen_index = 0;
    QString live_select;
};
