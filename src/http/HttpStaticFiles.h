#pragma once
// Serves the files below one root folder.
//
// A value held by the route that serves the browser interface; used on the
// HTTPS server thread. Files are read afresh for every request.
#include "HttpResponse.h"

#include <QString>

class HttpStaticFiles {
public:
    explicit HttpStaticFiles(const QString& root);

    // relativePath is the decoded request path after its leading "/". The
    // empty path means "index.html"; any other path is taken as it is, so a
    // folder (such as "qml/") is not completed and answers 404. A path that
    // resolves outside the root, through ".." or a symbolic link, answers
    // 404 like a missing file.
    HttpResponse serve(const QString& relativePath) const;

    QString root() const { return m_root; }

private:
    QString m_root;
};
