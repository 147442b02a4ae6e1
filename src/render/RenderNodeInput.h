#pragma once
// RenderNodeInput: what a video item hands its render node, kept apart from
// both so that neither ever touches the other after it is gone.
//
// The scene graph owns the node and may destroy it at any sync or when the
// scene is invalidated, which happens before the items are deleted; the item
// may be deleted on the GUI thread while its node is still drawn. Both hold a
// share of this object: the item writes frames, options and transition values
// into it from any thread, the node takes them on the render thread. The
// item's per-pass work runs through the pass callback held here; clearing the
// callback waits for a pass in progress, so no pass runs on a destroyed item.
//
// The input also tells whether what the node would draw changed since the
// node last drew: a new or cleared picture, or another look. A window whose
// tiles and scene did not change sends its last picture instead of drawing;
// it runs the tiles' passes ahead of drawing to find out, and the node then
// does not run that pass again.
//
// Owner: shared (std::shared_ptr) by the item and its node. Thread-safe.
#include "RenderOptions.h"
#include "sources/MediaFrameWrapper.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class VideoFrame;

class RenderNodeInput {
public:
    // A slot's state: kNone before anything was handed in, kSet when a frame
    // (possibly empty) was handed in, kCleared when the slot was cleared.
    enum SlotState { kNone = 0, kSet = 1, kCleared = 2 };

    // A rendered bus picture: clears both received slots.
    void setVideo(std::shared_ptr<VideoFrame> frame);
    // A received picture for the current or the next slot. An older frame
    // than the one still waiting for upload (by timecode, then timestamp) is
    // dropped.
    void setVideo(VideoFramePtr frame);
    void setNextVideo(VideoFramePtr frame);
    // Black from the next pass on: every slot is cleared.
    void clearPicture();

    void setAlpha(float alpha);
    void setTransitionEffect(int type);
    void setWin_type(const QString& type);
    void setAngle(int angle);
    void setSourceName(const QString& name);
    void setOption(const RenderOptions& options);
    // The item's place in its window; kept for the item, no drawing reads it.
    void updateCoordinateSystem(
        double winW, double winH, double offset, double itemX, double itemY, double width, double height);

    // Taken once per pass by the node: the frames are handed over and their
    // slots emptied, so each frame is uploaded once; the states stay.
    struct Frames {
        VideoFramePtr current;
        VideoFramePtr next;
        std::shared_ptr<VideoFrame> rendered;
        int currentState = kNone;
        int nextState = kNone;
        int renderedState = kNone;
    };
    Frames takeFrames();

    struct Look {
        float alpha = 0;
        int transitionType = 1;
        int angle = 0;
        RenderOptions options;
    };
    Look look() const;
    QString winType() const;
    QString sourceName() const;

    // The item's per-pass work. runPass (render thread) runs it unless it is
    // disabled or cleared; clearing and disabling both wait for a pass in
    // progress, so after they return no pass is running or will run.
    void setPassCallback(std::function<void()> callback);
    void enablePass();
    void disablePass();
    void clearPassCallback();
    void runPass();
    bool inPass() const { return m_inPass; }
    // Runs the pass before the node draws; the node's next runPassOnce()
    // then does nothing, unless dropPassAhead() said no drawing follows.
    void runPassAhead();
    void dropPassAhead();
    void runPassOnce();

    // True when a picture or the look changed since the last call (true
    // before the first). Called by the node as it draws and by the window
    // deciding whether to draw.
    bool takeChanged();

private:
    static bool olderThanWaiting(const VideoFramePtr& waiting, const VideoFramePtr& incoming);
    void setStates(int current, int next, int rendered);

    mutable std::mutex m_mutex;
    Frames m_frames;
    Look m_look;
    QString m_winType;
    QString m_sourceName;
    double m_coordinates[5] = { 0, 0, 0, 0, 0 };
    // What was handed in last, to tell a new picture from the same one again.
    std::weak_ptr<MediaFrameWrapper<Media_video_frame_t, MediaInstancePtr>> m_lastCurrent;
    std::weak_ptr<MediaFrameWrapper<Media_video_frame_t, MediaInstancePtr>> m_lastNext;
    std::weak_ptr<VideoFrame> m_lastRendered;
    std::atomic<bool> m_changed { true };
    std::atomic<bool> m_ranAhead { false };

    std::mutex m_passMutex;
    std::function<void()> m_callback;
    std::atomic<bool> m_callbackEnabled { true };
    std::atomic<bool> m_inPass { false };
};
