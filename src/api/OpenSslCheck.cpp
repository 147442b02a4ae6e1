#include "OpenSslCheck.h"

#include <QDebug>
#include <QStringList>

#include <openssl/err.h>

namespace OpenSslCheck {

bool ok(int rc, const char* what)
{
    if (rc == 1) {
        ERR_clear_error();
        return true;
    }
    QStringList reasons;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        reasons << QString::fromLatin1(text);
    }
    qWarning().noquote() << "[openssl]" << what << "failed with" << rc
                         << (reasons.isEmpty() ? QString() : ": " + reasons.join("; "));
    return false;
}

} // namespace OpenSslCheck
