#pragma once
// QuickRenderer: the OpenGL side of one output window. It renders the
// window's QML scene into its framebuffer (with a depth-stencil attachment, so
// that Qt Quick stacks overlapping opaque items correctly), hands the picture
// to the UYVY converter for the network output and the H.264/holder path, and
// publishes a finished copy for the screen window.
//
// The GUI-thread window drives it with posted events (1001 initialise, 1002
// render, 1003 resize, 1004 clean up) and a few locked setters. What the
// setters change is kept in one settings record; a pass copies it once at its
// start and works from that copy, so ids, name, sizes, rate, switches and
// encoder never mix two states within one pass. The encoder pointer is only
// used inside a pass, and setZtEncoder() returns only after a pass that may
// still hold the old one has ended, so its owner may then delete it.
//
// The GUI thread waits while a pass syncs the scene (QQuickRenderControl
// requires the scene to stand still during sync): requestRender() returns
// the pass's ticket, waitForSync() blocks until that pass has synced or gave
// up. A request that posts nothing never waits.
//
// A pass draws the scene only when something in it changed since the last
// drawn pass: the scene itself (markSceneChanged, from the QML scene's own
// change signals), the size or rate, or a video tile's picture or look (the
// tiles' passes run ahead to find out, see DrawnTiles). Otherwise the pass
// sends the last picture again, so every output keeps its rate. A window
// whose picture nobody takes (no screen, network output, viewer or holder
// reader) draws only for changes of its scene; its tiles' passes still run,
// and what changed in them is drawn once somebody takes the picture.
//
// Owner: its WindowMultiThreaded, which creates it on the GUI thread, moves it
// to the window's render thread and deletes it after that thread ended.
// Thread: event(), render() and cleanup() run on the render thread; the
// setters, requestRender, waitForSync, requestStop, changeWindowPosition and
// drawScreen on the GUI thread. clearRequestEvent runs on whichever thread
// switches the window's rendering (the GUI thread, or a request's under the
// program lock) and takes request_mutex.
#include <QEvent>
#include <QMutex>
#include <QObject>
#include <QSize>
#include <QString>
#include <QWaitCondition>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class DrawnTiles;
class FramelessWindow;
class PboRenderer;
class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;
class QQuickRenderControl;
class QQuickWindow;
class ZtGstEncoder;

class QuickRenderer : public QObject {
    Q_OBJECT
public:
    static constexpr QEvent::Type kInitEvent = QEvent::Type(1001);
    static constexpr QEvent::Type kRenderEvent = QEvent::Type(1002);
    static constexpr QEvent::Type kResizeEvent = QEvent::Type(1003);
    static constexpr QEvent::Type kCleanupEvent = QEvent::Type(1004);
    // Largest scene side the pipeline renders (the API's limit).
    static constexpr int kMaxSide = 8192;
    static constexpr int kMaxEncodeSide = 1920;
    static constexpr int kMinEncodeSide = 16;

    QuickRenderer();
    ~QuickRenderer() override;

    void setId(const QString& pro_id, const QString& win_id);
    void setName(const QString& name);
    void setContext(QOpenGLContext* context);
    void setSurface(QOffscreenSurface* surface);
    void setScene(QQuickWindow* window, QQuickRenderControl* control);
    void setFramelessWindow(FramelessWindow* window);
    void setFrameRate(double fps);
    // Returns once no pass uses the previous encoder any more.
    void setZtEncoder(ZtGstEncoder* encoder);
    void setH264Timeout(bool halve, double rate);
    void setH264Enable(bool enable);
    // Somebody watches the window's H.264 stream: frames go to the encoder.
    // Without a watcher the H.264 conversion runs only while a "pvw"/"pgm"
    // holder has a reader. Switching off returns once no pass feeds the
    // encoder any more.
    void setH264Encode(bool encode);
    void setNdiEnable(bool enable);
    void setScreenOutEnable(bool enable);
    // Scene size (even, from the window) and the H.264 size derived from it
    // (encodingSize).
    void setSize(int w, int h);
    // 1280 wide for landscape, 720 otherwise, height to scale, rounded down
    // to even; a scene narrower than that allows keeps its aspect with the
    // longer side at kMaxEncodeSide, and no side is below kMinEncodeSide.
    static QSize encodingSize(int w, int h);
    void getH264Size(int& w, int& h, bool& changed);
    void setH264Size(int w, int h);
    void changeWindowPosition(int screenIndex, bool isFull);

    // Something in the QML scene changed: the next pass draws. Any thread.
    void markSceneChanged();

    void requestInit();
    void requestResize();
    // Posts one render event unless one is pending; returns its ticket, or 0
    // when nothing was posted (the request is then counted as lost).
    uint64_t requestRender();
    // Blocks until the pass of ticket has synced the scene, ended early, or
    // the renderer stops; false after timeoutMs.
    bool waitForSync(uint64_t ticket, int timeoutMs = 2000);
    void clearRequestEvent();
    void requestStop();
    void aboutToQuit();
    // Draws the last published finished frame on the screen window.
    void drawScreen();

    bool event(QEvent* e) override;

    struct Stats {
        int64_t requests = 0; // render events posted
        int64_t lost = 0; // requests refused while one was pending
        int64_t passes = 0; // passes that sent a picture (drawn or repeated)
        int64_t drawn = 0; // passes that drew the scene
        std::vector<double> pass_ms; // recent pass times
        std::vector<double> convert_ms; // recent conversion times (both paths)
        int64_t h264_conversions = 0; // passes that converted for the encoder or holder
        int64_t ndi_conversions = 0; // passes that converted for the network output
    };
    Stats stats() const;
    // The texture the screen window would draw now (0 when none is published).
    unsigned publishedTexture() const;

public slots:
    void cleanup();

private:
    struct Settings {
        QString pro_id;
        QString win_id;
        QString name;
        int width = 16;
        int height = 16;
        int h264_width = 0;
        int h264_height = 0;
        double fps = 50.0;
        bool h264 = true;
        bool encode = false;
        bool ndi = false;
        bool screen = false;
        bool halve = false;
        double halved_rate = 0.0;
        ZtGstEncoder* encoder = nullptr;
    };

    void init();
    void render();
    void releaseSync(uint64_t ticket);
    bool checkSettings(const Settings& s);
    bool mustDraw(const Settings& s, bool framebufferMade);
    void publishScreenFrame(const Settings& s, bool drawn);
    void withdrawScreenFrame();
    void recordTime(std::deque<double>& samples, double ms);

    mutable QMutex settings_mutex;
    Settings settings;
    bool h264_size_changed = false;

    QOpenGLContext* context = nullptr;
    QOffscreenSurface* surface = nullptr;
    QQuickWindow* quick_window = nullptr;
    QQuickRenderControl* render_control = nullptr;
    FramelessWindow* screen_window = nullptr;
    std::unique_ptr<QOpenGLFramebufferObject> framebuffer;
    std::unique_ptr<PboRenderer> converter;
    // The tiles of the last drawn pass, and what that pass was drawn for.
    std::unique_ptr<DrawnTiles> drawn_tiles;
    std::atomic<bool> scene_changed { true };
    bool drawn_once = false;
    // Tiles changed while nobody took the picture.
    bool undrawn_changes = false;
    double drawn_fps = 0;

    // The screen's copy of the last finished frame, and its texture as
    // published to the GUI thread (0 = nothing to draw).
    mutable QMutex screen_mutex;
    std::unique_ptr<QOpenGLFramebufferObject> screen_framebuffer;
    unsigned published_texture = 0;

    QMutex request_mutex;
    QMutex gl_mutex;
    // Held for the whole of a pass: setZtEncoder waits on it.
    QMutex pass_mutex;
    std::atomic<bool> pending { false };
    std::atomic<bool> m_quit { false };
    std::atomic<bool> m_request_stop { false };
    std::atomic<bool> stopped { false };

    QMutex sync_mutex;
    QWaitCondition sync_done;
    uint64_t posted_ticket = 0; // under request_mutex
    std::atomic<uint64_t> pass_ticket { 0 }; // ticket of the pass about to run
    uint64_t synced_ticket = 0; // under sync_mutex

    bool bad_input_logged = false;
    int64_t lost_count = 0;
    int64_t m_dropFrame = 0;
    int64_t lost_log_time = 0;
    int64_t stats_start = 0;
    int render_count = 0;
    int64_t render_log_time = -1;
    std::atomic<int64_t> render_in { 0 }, render_out { 0 };
    std::atomic<int64_t> step1 { 0 }, step2 { 0 }, step3 { 0 };

    mutable QMutex stats_mutex;
    int64_t total_requests = 0;
    int64_t total_lost = 0;
    int64_t h264_conversions = 0;
    int64_t ndi_conversions = 0;
    int64_t drawn_passes = 0;
    std::deque<double> pass_times;
    std::deque<double> convert_times;
};
