#pragma once
// The reference of the glass-to-glass measure: the GStreamer pipeline of
// bench/render_pipeline.sh (N pictures -> compositor at the window's tile
// rectangles -> UYVY 1920x1080, teed into a 1280x720 x264enc branch with the
// same settings), fed live with the same stamped sources, received by the
// stand-in's receivers as the application receives them. The UYVY picture
// stands for the network output, the x264enc branch (decoded as the
// benchmark decodes ours) for the H.264 output; both are read for the first
// source's code in the first tile.
//
// Owns its feeding thread and its pipeline from start() until destruction.
#include "Latency.h"

#include <QStringList>

class GstReference {
public:
    explicit GstReference(QStringList sources);
    ~GstReference();
    bool start();
    SampleWatch& network() { return m_network; }
    SampleWatch& h264() { return m_h264; }

private:
    void feed();

    const QStringList m_sources;
    const int m_columns;
    SampleWatch m_network, m_h264;
    GstElement* m_pipeline = nullptr;
    std::vector<GstElement*> m_inputs;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

// Columns of the square grid the benchmark's scene lays n tiles out in.
int gridColumns(int n);
