#pragma once
// The one place where OpenSSL result codes of the request layer are checked.
//
// OpenSSL reports failure through return values and a per-thread error
// queue; this turns both into a boolean and one log line, and empties the
// queue so a later, unrelated failure is not blamed on an old entry.
// Callable from any thread.

namespace OpenSslCheck {

// True when rc is OpenSSL's success value 1. Otherwise logs "what" with the
// queued error texts and returns false.
bool ok(int rc, const char* what);

} // namespace OpenSslCheck
