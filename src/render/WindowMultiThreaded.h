#pragma once
// WindowMultiThreaded: the off-screen renderer of one output window. It owns
// the window's QML scene (a QQuickWindow driven by a QQuickRenderControl, the
// engine and the loaded layout), the GL context and off-screen surface, the
// render thread with its QuickRenderer, the screen window and the H.264
// encoder.
//
// Each tick (refreshUI, on the window's tick thread) posts at most one render
// request to this object; on the GUI thread the request polishes the scene,
// posts one render event to the render thread and waits while that pass
// syncs the scene, then draws the last finished frame on the screen window.
//
// The encoder plays only while somebody watches the window's stream (the
// preview sessions of WebrtcManager bound to it, or setH264Viewers): it
// starts from a stopped pipeline, so its first picture is a key frame, and
// stops when the last viewer leaves, so an unwatched window keeps no
// GStreamer thread awake.
//
// Teardown runs in this order: requests stop, the screen window goes, the
// scene's objects are destroyed, the encoder stops, the renderer cleans up on
// its thread (output sender flushed, encoder queue and holder frame released,
// then GL objects with the context current), the thread ends, the scene and
// context go, the encoder last.
//
// Owner: its WindowObject, through a QSharedPointer; destroyed with the last
// reference, on the GUI thread. Thread: lives on the GUI thread; refreshUI()
// is called on the window's tick thread.
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

class FramelessWindow;
class QOffscreenSurface;
class QOpenGLContext;
class QQmlComponent;
class QQmlEngine;
class QQuickItem;
class QQuickRenderControl;
class QQuickWindow;
class QThread;
class QuickRenderer;
class ZtGstEncoder;

class WindowMultiThreaded : public QObject {
    Q_OBJECT
public:
    static constexpr int kRequestEvent = 1005;

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
    // (Re)builds and starts the H.264 encoder for the current size and rate.
    void createZtEncoder();
    void setH264Enable(bool enable);
    // How many watch the H.264 stream; the preview sessions set it, a
    // benchmark may too. The encoder plays while it is above 0.
    void setH264Viewers(int viewers);
    int h264Viewers() const { return h264_viewers; }
    void setNDIEnable(bool enable);
    void setScreenOutEnable(bool enable);
    // Asks for one render; called on the window's tick thread.
    void refreshUI();
    void startRender();
    void stopRender();
    void destroy();
    void enableRender(bool enable);

    bool event(QEvent* e) override;

    QString proId() const { return pro_id; }
    QString winId() const { return win_id; }
    QString name() const { return output_name; }
    int width() const { return scene_width; }
    int height() const { return scene_height; }
    double frameRate() const { return frame_rate; }
    QString qmlFile() const { return qml_file; }
    int encoderBuilds() const { return encoder_builds; }
    int refreshCount() const { return refresh_count; }
    bool isRenderEnabled() const { return m_enable_render; }
    bool isSceneLoaded() const { return m_quickInitialized; }
    int screenIndex() const { return screen_index; }
    QString liveSelect() const { return live_select; }
    QuickRenderer* renderer() const { return quick_renderer.get(); }
    FramelessWindow* screenWindow() const { return screen_window.get(); }
    ZtGstEncoder* encoder() const { return zt_encoder.get(); }
    QQuickItem* rootItem() const { return root_item; }
    // Ticks dropped since construction (scene not loaded or rendering off).
    int64_t droppedTicks() const { return dropped_ticks_total; }

public slots:
    void run();
    void requestUpdate();
    void polishSyncAndRender();
    void onProcessPosition(int screenIndex, bool isFull);
    void onProcessLive(const QString& select);

private:
    void applySize();
    void applyEncoderState();

    QString pro_id;
    QString win_id;
    QString output_name;
    int scene_width = 16;
    int scene_height = 16;
    double frame_rate = 50.0;
    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<FramelessWindow> screen_window;
    std::unique_ptr<QQuickRenderControl> render_control;
    std::unique_ptr<QQuickWindow> quick_window;
    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QuickRenderer> quick_renderer;
    std::unique_ptr<QThread> render_thread;
    std::unique_ptr<QQmlComponent> component;
    QQuickItem* root_item = nullptr;
    std::unique_ptr<ZtGstEncoder> zt_encoder;
    QString qml_file;
    std::atomic<bool> m_quickInitialized { false };
    std::atomic<bool> request_pending { false };
    std::atomic<bool> m_enable_render { true };
    // Set by a switch-off so that the delayed switch-on of an earlier
    // enableRender(true) does not undo it.
    bool m_enable_render_off_pending = false;
    QMutex request_mutex;
    int64_t stats_start = 0;
    int render_count = 0;
    int m_dropFrameCount = 0;
    int64_t last_request_time = 0;
    int64_t last_log_time = 0;
    int m_dropSendCount = 0;
    std::atomic<int64_t> dropped_ticks_total { 0 };
    int encoder_builds = 0;
    int h264_viewers = 0;
    std::atomic<int> refresh_count { 0 };
    int screen_index = 0;
    QString live_select;
};
