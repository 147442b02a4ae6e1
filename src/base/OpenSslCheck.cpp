#include "OpenSslCheck.h"

#include "OpenSslErrors.h"

#include <QDebug>

#include <openssl/err.h>

namespace OpenSslCheck {

bool ok(int rc, const char* what)
{
    if (rc == 1) {
        ERR_clear_error();
        return true;
    }
    const QString reasons = drainOpenSslErrors();
    qWarning().noquote() << "[openssl]" << what << "failed with" << rc
                         << (reasons.isEmpty() ? QString() : ": " + reasons);
    return false;
}

} // namespace OpenSslCheck
