#pragma once
// VideoRender: the QML item ("Renderer" in "SceneGraphRendering" 1.0) that
// shows one tile of a window: a live source, or, as a bus tile (window type
// "pvw"/"pgm"), the program's own preview or program picture from its frame
// holder.
//
// A source tile holds a share of the source's MediaConnection (from the
// source table), registered as a consumer of its low or high stream, and
// pulls the newest frame once per render pass. Source changes asked for on
// the GUI thread are queued and applied at the start of the next pass on the
// render thread. The tile of a bus window's own position ("output" "pvw" or
// "pgm") lights its source's tally, carries the take (preview to program)
// and clears the take flags of its bus's frame holder.
//
// Owner: the QML scene of its window. Thread: made and driven on the GUI
// thread; updatePaintNode (during the scene graph's sync) and updateVideo
// (from its node's render) run on the window's render thread. Its signals
// are emitted on the GUI thread, where the scene's handlers run. Everything the
// node needs goes through a shared RenderNodeInput, so the item never touches
// a node the scene graph has freed and the node never runs a pass on a
// deleted item (the destructor clears the pass callback, which waits for a
// pass in progress).
//
// Locks: m_mutex (recursive) guards the item's state and is held for a whole
// pass; m_requestMutex guards only the request queue. The pass lock of the
// node input is taken before m_mutex on the render thread, so the GUI thread
// never waits for it while holding m_mutex.
#include "RenderOptions.h"
#include "sources/MediaFrameWrapper.h"

#include <QQuickItem>
#include <QRecursiveMutex>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class MediaConnection;
class RenderNodeInput;

class VideoRender : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString pro_id READ proId WRITE setProId)
    Q_PROPERTY(QString output READ output WRITE setOutput)
    Q_PROPERTY(float winW READ winW WRITE setWinW)
    Q_PROPERTY(float winH READ winH WRITE setWinH)
    Q_PROPERTY(float offset READ offset WRITE setOffset)
    Q_PROPERTY(float item_x READ itemX WRITE setItemX)
    Q_PROPERTY(float item_y READ itemY WRITE setItemY)
    Q_PROPERTY(QString borderColor READ borderColor WRITE setBorderColor)
    Q_PROPERTY(int borderWidth READ borderWidth WRITE setBorderWidth)
    Q_PROPERTY(bool showCenterCross READ showCenterCross WRITE setCenterCross)
    Q_PROPERTY(bool show16x9Area READ show16x9Area WRITE set16x9Area)
public:
    explicit VideoRender(QQuickItem* parent = nullptr);
    ~VideoRender() override;

    QString proId() const;
    void setProId(const QString& id);
    QString output() const;
    void setOutput(const QString& output);
    float winW() const;
    void setWinW(float w);
    float winH() const;
    void setWinH(float h);
    float offset() const;
    void setOffset(float offset);
    float itemX() const;
    void setItemX(float x);
    float itemY() const;
    void setItemY(float y);
    QString borderColor() const;
    void setBorderColor(const QString& color);
    int borderWidth() const;
    void setBorderWidth(int width);
    bool showCenterCross() const;
    void setCenterCross(bool show);
    bool show16x9Area() const;
    void set16x9Area(bool show);

    // What the item last reported; for the scene's owner and for tests.
    QString loadingState() const;
    int bandwidth() const;
    float frameRate() const;

    Q_INVOKABLE bool changeSource(QString m_source, QString m_bw, bool isTake);
    Q_INVOKABLE void changeBandWidth(const QString& bw);
    Q_INVOKABLE double getVolume(int channel);
    Q_INVOKABLE int getTallyActive();
    Q_INVOKABLE void setAudioLevel(int level);
    // Whether this tile listens to its source's sound (the position's
    // "audio_enable"); a source nobody listens to sends nothing to the mixes.
    Q_INVOKABLE void enableAudio(bool on);
    Q_INVOKABLE void updateTally(const QString& type);
    Q_INVOKABLE void startLiving();
    Q_INVOKABLE void stopLiving();
    Q_INVOKABLE void setTransitionType(int type);
    Q_INVOKABLE void doTake(int time, int type, float progress, const QString& source);
    Q_INVOKABLE void destroyConnection();
    Q_INVOKABLE void changeTallyState(int state);
    Q_INVOKABLE void setAngle(int angle);
    Q_INVOKABLE void sendRenderUpdate();

signals:
    void aspectChanged();
    void notifyLoading(QString state, int progress);
    void frameRateChanged(float frameRate, int n, int d);
    void resolutionChanged(int xres, int yres);
    void restoreSize();
    void frameReady();

public slots:
    // One render pass of the tile; called by its node on the render thread.
    void updateVideo();
    void updateAudio();
    void updateRender();
    bool insideUpdateSource(const QString& source, const QString& bw, bool isTake);

protected:
    QSGNode* updatePaintNode(QSGNode* oldNode, UpdatePaintNodeData* data) override;

private:
    struct SourceChangeRequest {
        QString source;
        QString bandwidth;
        bool isTake = false;
        bool operator==(const SourceChangeRequest& o) const
        {
            return source == o.source && bandwidth == o.bandwidth && isTake == o.isTake;
        }
    };
    using ConnectionPtr = std::shared_ptr<MediaConnection>;

    void applyBandwidth(const QString& bw);
    ConnectionPtr lookUp(const QString& source) const;
    void attach(const ConnectionPtr& connection, bool full);
    void release(ConnectionPtr& connection, bool withLevel = true);
    void setLoading(const QString& state, bool always);
    // Emits on the item's own thread, where the scene's handlers run: a
    // notice a pass sends from the render thread is queued to the item, so
    // one still on its way when the item goes is dropped with it.
    void notify(std::function<void()> emitSignal);
    void sendOptions();
    void clearTakeValues();
    void applyRequests();
    void paint();
    void reportFrame(const VideoFramePtr& frame);
    bool isNewPicture(const VideoFramePtr& frame);
    void clearHolderTaking(bool program);
    void clearHolderTakeState();
    bool isBusTile() const;

    mutable QRecursiveMutex m_mutex;
    bool m_living = false;
    QString m_source;
    int m_bandwidth = 2;
    ConnectionPtr m_connection;
    ConnectionPtr m_nextConnection;
    int64_t m_playCountdown = 0;
    int64_t m_attachTime = 0;
    bool m_audioEnabled = true;
    int m_audioLevel = 20;
    bool m_pvwTally = false;
    bool m_pgmTally = false;
    QString m_winType;
    int m_resolution[2] = { 0, 0 };
    float m_aspect = 0;
    float m_frameRate = 25.0f;
    double m_levels[16];
    int m_prevBandwidth = 0;
    std::shared_ptr<RenderNodeInput> m_node;
    QString m_borderColor;
    int m_borderWidth = 0;
    bool m_showCenterCross = false;
    bool m_show16x9Area = false;
    int m_tallyState = 0;
    float m_itemX = 0, m_itemY = 0, m_winW = 0, m_winH = 0, m_offset = 0;
    QString m_output;
    QString m_proId;
    bool m_taking = false;
    float m_takeProgress = 0;
    int m_takeTime = 0;
    int m_transitionType = 1;
    int m_takeFrames = 0;
    int m_angle = 0;
    QString m_state;
    // The last picture taken from the connection, to tell a new one.
    std::weak_ptr<MediaFrameWrapper<Media_video_frame_t, MediaInstancePtr>> m_lastPicture;
    int64_t m_lastPictureStamp = 0;
    int64_t m_statTime = 0;
    int m_statCount = 0;

    std::atomic<bool> m_requestsPending { false };
    std::mutex m_requestMutex;
    std::vector<SourceChangeRequest> m_requests;
    std::atomic<bool> m_destroyRequested { false };
};
