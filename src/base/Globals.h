#pragma once
// Process-wide settings. Written on the GUI thread during start-up only
// (the ports also by the main window's settings); every other thread reads.
#include <QString>

extern QString g_currentPath; // base directory (working dir when developing, else the executable's dir)
extern QString g_resPath; // g_currentPath + "/res"
extern QString g_savePath; // $HOME/AppData/Local/Panoptra_Pro/general
extern const QString g_version; // application version, logged at start-up and reported to clients
extern bool g_is_developing; // "--developing" given
extern int g_httpPort; // HTTPS server port
extern int g_websocketPort; // secure WebSocket port
extern bool g_is_neutral_version; // unbranded build, from "general.ini"
