#include "GSTEAMER.h"

#include "base/Globals.h"

#include <QDebug>
#include <QDir>

#include <gst/gst.h>

bool GSTEAMER::s_initialised = false;

void GSTEAMER::Init(int* argc, char*** argv)
{
    if (s_initialised)
        return;
    gst_init(argc, argv);
    s_initialised = true;

    GstRegistry* registry = gst_registry_get();
    if (!registry) {
        qDebug() << "ERROR: Get gstreamer registry failed!";
        return;
    }
    const QString folder
        = g_is_developing ? QStringLiteral("/opt/homebrew/lib/gstreamer-1.0") : g_currentPath + "/../PlugIns/gstreamer";
    // Without a bundled folder the system's registry already holds the plug-ins.
    if (QDir(folder).exists()) {
        qDebug() << "Loading gst plugins from " << folder;
        gst_registry_scan_path(registry, QDir::cleanPath(folder).toLocal8Bit().constData());
    }
    GList* plugins = gst_registry_get_plugin_list(registry);
    for (GList* p = plugins; p; p = p->next)
        qDebug() << "Plugin: " << gst_plugin_get_name(GST_PLUGIN(p->data));
    gst_plugin_list_free(plugins);
}

void GSTEAMER::Cleanup()
{
    if (!s_initialised)
        return;
    s_initialised = false;
    gst_deinit();
    // The pipelines' pool threads stay idle for a while before they end on
    // their own; they end now instead, while the process still waits for them.
    g_thread_pool_stop_unused_threads();
    qDebug() << "GSTEAMER::Cleanup done";
}
