#pragma once
// GSTEAMER: one-time start-up and shutdown of the media framework for the
// encoders.
//
// Init is called by main on the GUI thread before any other thread uses
// GStreamer; Cleanup is the last step of the ordered shutdown, after every
// encoder is gone.
class GSTEAMER {
public:
    // Initialises GStreamer once per process and adds the plug-in folder
    // shipped beside the application to its registry when that folder exists.
    static void Init(int* argc, char*** argv);
    // Deinitialises GStreamer when Init ran; GStreamer cannot start again in
    // this process afterwards.
    static void Cleanup();

private:
    static bool s_initialised;
};
