#pragma once
// ServedSources: the live connection of a source in the table the application
// serves (the one its discovery fills), for the parts below the controller
// that act on a source: the program audio mixers and PTZ control. The
// controller installs the lookup when it is made; before that, and once its
// shutdown has taken the table, a source has no live connection here.
//
// Thread: install and connectionOf may run on any thread; the lookup runs on
// the caller's, outside the lock.

#include <QString>

#include <functional>
#include <memory>

class MediaConnection;

namespace ServedSources {

using Lookup = std::function<std::shared_ptr<MediaConnection>(const QString& source)>;

void install(Lookup lookup);
std::shared_ptr<MediaConnection> connectionOf(const QString& source);

} // namespace ServedSources
