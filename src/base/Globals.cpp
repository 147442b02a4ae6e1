#include "Globals.h"

QString g_currentPath;
QString g_resPath;
QString g_savePath;
const QString g_version = QStringLiteral("V_1.10.0060");
bool g_is_developing = false;
int g_httpPort = 81;
int g_websocketPort = 12345;
bool g_is_neutral_version = false;
