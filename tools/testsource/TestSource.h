#pragma once
// One synthetic source of the test-source program: a sender that shows a
// background in its own colour, a white bar crossing the picture every two
// seconds and the frame counter in the top left corner (and, stamped, the
// time it sent the picture, see TimeStamp.h); it sends a 1 kHz
// tone at -20 dBFS on every channel (16-bit, reference level 20 dB) and
// offers PTZ. Whatever tally, metadata and PTZ commands reach it are written
// to stdout, one line each.
//
// Owned by the program's main(); every call runs on the main thread.
#include "NdiWrapper.h"
#include "TestPicture.h"

#include <string>
#include <vector>

class TestSource {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kChannels = 2;
    static constexpr double kToneHz = 1000.0;
    static constexpr double kTonePeak = 0.1; // of 16-bit full scale: -20 dBFS
    static constexpr int kReferenceLevel = 20;

    // index: 0-based position among count sources, picks the colour.
    TestSource(std::string name, int index, int count, int width, int height, int fpsN, int fpsD);
    ~TestSource();
    TestSource(const TestSource&) = delete;
    TestSource& operator=(const TestSource&) = delete;

    void setToneHz(double hz) { m_toneHz = hz; }
    // Draws the send time into every picture (TimeStamp.h).
    void setStamped(bool on) { m_stamped = on; }
    bool start();
    const std::string& name() const { return m_name; }
    void sendVideo();
    // samples per channel of tone, continuing the phase.
    void sendAudio(int samples);
    // Logs what arrived since the last call.
    void poll();

private:
    const std::string m_name;
    const int m_fpsN, m_fpsD;
    NDIlib_send_instance_t m_sender = nullptr;
    Yuv m_colour;
    // Two pictures, alternated: an asynchronously sent picture may be read
    // until the next send.
    TestPicture m_pictures[2];
    unsigned m_frame = 0;
    double m_toneHz = kToneHz;
    bool m_stamped = false;
    long long m_toneSample = 0;
    std::vector<int16_t> m_audio;
};
