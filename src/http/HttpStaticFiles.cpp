#include "HttpStaticFiles.h"

#include <QFileInfo>

HttpStaticFiles::HttpStaticFiles(const QString& root)
    : m_root(root)
{
}

HttpResponse HttpStaticFiles::serve(const QString& relativePath) const
{
    const QString path = relativePath.isEmpty() ? QStringLiteral("index.html") : relativePath;
    if (path.contains(QChar(0)))
        return HttpResponse::status(404);
    // Both sides are resolved by the file system (links and ".." included)
    // before they are compared, so only what really lies below the root is
    // served. An empty canonical path means the file does not exist.
    const QString root = QFileInfo(m_root).canonicalFilePath();
    const QString file = QFileInfo(m_root + QLatin1Char('/') + path).canonicalFilePath();
    if (root.isEmpty() || file.isEmpty() || !file.startsWith(root + QLatin1Char('/')))
        return HttpResponse::status(404);
    return HttpResponse::fromFile(file);
}
