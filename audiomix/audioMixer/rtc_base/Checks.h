#pragma once
// Checks of the mixing engine: conditions that only a programming error can
// break (no input from outside the process reaches them). A failed check
// writes where and what to standard error and aborts.
#include <sstream>
#include <string>

namespace rtc {
namespace webrtc_checks_impl {

// Writes the report block and aborts. `values` is empty or " (a vs. b)".
[[noreturn]] void FatalLog(
    const char* file, int line, const char* condition, const std::string& values, const std::string& message);

template <typename A, typename B> std::string CompareValues(const A& a, const B& b)
{
    std::ostringstream out;
    out << " (" << a << " vs. " << b << ")";
    return out.str();
}

} // namespace webrtc_checks_impl
} // namespace rtc

#define RTC_CHECK_MSG(condition, message)                                                                              \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::rtc::webrtc_checks_impl::FatalLog(__FILE__, __LINE__, #condition, std::string(), message);               \
    } while (0)

#define RTC_CHECK(condition) RTC_CHECK_MSG(condition, "")

#define RTC_CHECK_OP(a, op, b)                                                                                         \
    do {                                                                                                               \
        const auto& rtcCheckA = (a);                                                                                   \
        const auto& rtcCheckB = (b);                                                                                   \
        if (!(rtcCheckA op rtcCheckB))                                                                                 \
            ::rtc::webrtc_checks_impl::FatalLog(__FILE__, __LINE__, #a " " #op " " #b,                                 \
                ::rtc::webrtc_checks_impl::CompareValues(rtcCheckA, rtcCheckB), "");                                   \
    } while (0)

#define RTC_CHECK_LE(a, b) RTC_CHECK_OP(a, <=, b)
#define RTC_CHECK_EQ(a, b) RTC_CHECK_OP(a, ==, b)
