#pragma once
// GSTEAMER: one-time initialisation of the media framework for the encoders.
//
// Called by main on the GUI thread before any other thread uses GStreamer.
class GSTEAMER {
public:
    // Initialises GStreamer once per process and adds the plug-in folder
    // shipped beside the application to its registry when that folder exists.
    static void Init(int* argc, char*** argv);

private:
    static bool s_initialised;
};
