#pragma once
// ZtFindGstEncoder: turns an encoder name of the encoder's table into a
// GStreamer H.264 encoder element; "auto" picks one by the graphics vendor
// (a hardware encoder is probed before it is trusted) and falls back to the
// software encoders.
//
// Owner: one process-wide instance (getInstance), made on first use. Thread:
// used by whichever thread builds an encoder; it only reads its device list
// after construction, except when that list is found empty.
#include <QString>

#include <string>

typedef struct _GstElement GstElement;

class ZtFindGstEncoder {
public:
    static ZtFindGstEncoder& getInstance();

    // A new floating element for the name (case-insensitive), or null for an
    // unknown name or a factory that is not installed.
    GstElement* findGstEncoderByName(const std::string& name);
    GstElement* createAutoGstEncoder();
    // Whether the graphics device list contains the vendor text.
    bool findGraphicsDevName(const std::string& vendor);
    void getGraphicsDevInfo();
    QString GetGpuInfo() const;
    static std::string WStringToString(const std::wstring& wide);

    ZtFindGstEncoder();
    ZtFindGstEncoder(const ZtFindGstEncoder&) = delete;
    ZtFindGstEncoder& operator=(const ZtFindGstEncoder&) = delete;

private:
    // True when a short live pipeline through the NVIDIA encoder runs without
    // an error within 20 ms.
    static bool probeNvidiaEncoder();

    std::string m_GraphicsDevList;
};
