// What a fuzz target does when a property it checks does not hold.
#pragma once

#include <QByteArrayView>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

// Says which property broke, with the bytes that show it, and stops: libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, QByteArrayView shown = {})
{
    // Named after the target, as fuzz/run-fuzzers.sh looks for it in the log.
    std::fprintf(stderr, "%s: %s\n%.*s\n", program_invocation_short_name, what,
                 int(std::min<qsizetype>(shown.size(), 2000)), shown.data());
    std::abort();
}
