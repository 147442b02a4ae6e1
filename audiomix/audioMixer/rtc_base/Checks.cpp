#include "Checks.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace rtc {
namespace webrtc_checks_impl {

void FatalLog(const char* file, int line, const char* condition, const std::string& values, const std::string& message)
{
    const int lastError = errno;
    std::fflush(stdout);
    std::fprintf(stderr, "\n\n#\n# Fatal error in: %s, line %d\n# last system error: %d\n# Check failed: %s", file,
        line, lastError, condition);
    if (!values.empty())
        std::fprintf(stderr, "%s\n# ", values.c_str());
    else
        std::fprintf(stderr, "\n# ");
    std::fprintf(stderr, "%s\n# \n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace webrtc_checks_impl
} // namespace rtc
