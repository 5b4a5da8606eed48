#pragma once

#include <QtGlobal>

#include <chrono>

// What one client may cost the server. Requests beyond a limit are answered with the matching
// 4xx status and the connection is closed; nothing grows without bound.
struct HttpLimits {
    int maxConnections = 512;
    int maxConnectionsPerAddress = 128; // from one client address, so that one process cannot take every place
    qsizetype maxHeadBytes = 16 * 1024; // request line and headers; 200 ids fit easily
    qsizetype maxBodyBytes = 16 * 1024; // bodies are read and dropped (no route takes one)
    std::chrono::milliseconds headTimeout{10'000};  // from a request's first byte to its end
    std::chrono::milliseconds idleTimeout{60'000};  // keep-alive connection without a request
    std::chrono::milliseconds closeTimeout{10'000}; // a closing peer that stops reading is cut off
    qint64 maxUnsentBytes = 1024 * 1024;            // answers waiting for a slow reader before we stop reading
};
