// What a fuzz target does when a property it checks does not hold.
#pragma once

#include <QByteArrayView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

// Says which property broke, with the bytes that show it, and stops: libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, QByteArrayView shown = {})
{
    std::fprintf(stderr, "%s\n%.*s\n", what, int(std::min<qsizetype>(shown.size(), 2000)), shown.data());
    std::abort();
}
