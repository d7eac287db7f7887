#pragma once

#include <QtGlobal>

// Upper bounds on how long something may take. They catch a step that blocks
// (a window frozen by a transfer, a worker that ignores Stop), not a slow
// machine: each bound is several times what an idle machine needs. Under
// ThreadSanitizer threads run at an unpredictable fraction of their speed, so
// no bound is checked there; AddressSanitizer builds get twice the room.
namespace TestTiming {

#if defined(__SANITIZE_THREAD__)
#define TW_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TW_TEST_TSAN 1
#endif
#endif

#if defined(__SANITIZE_ADDRESS__)
#define TW_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TW_TEST_ASAN 1
#endif
#endif

#ifdef TW_TEST_TSAN
constexpr bool boundsChecked = false;
#else
constexpr bool boundsChecked = true;
#endif

#ifdef TW_TEST_ASAN
constexpr qint64 slowdown = 2;
#else
constexpr qint64 slowdown = 1;
#endif

// True when elapsedMs stays under the bound (scaled for the build), or when
// this build checks no bounds.
inline bool within(qint64 elapsedMs, qint64 boundMs)
{
    return !boundsChecked || elapsedMs < boundMs * slowdown;
}

} // namespace TestTiming
