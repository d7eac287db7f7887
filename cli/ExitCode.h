#pragma once

// What a tilewright call ends with, for scripts.
namespace ExitCode {
constexpr int Done = 0;          // everything stored or unchanged
constexpr int SomeFailed = 1;    // some tiles failed (or were not kept)
constexpr int Usage = 2;         // bad arguments; nothing was asked or written
constexpr int Refused = 3;       // the source's policy does not allow the job
constexpr int Unusable = 4;      // the destination takes no file
constexpr int Interrupted = 130; // SIGINT or SIGTERM
} // namespace ExitCode
