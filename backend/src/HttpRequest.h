#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <utility>

// One parsed request head. The body, if any, is read and dropped by the connection.
struct HttpRequest {
    QByteArray method; // "GET"
    QByteArray target; // "/api/quotes?ids=BTC,ETH", as sent
    QByteArray path;   // "/api/quotes"
    QByteArray query;  // "ids=BTC,ETH" (no "?")
    bool hasQuery = false;
    int minorVersion = 1; // HTTP/1.x
    QList<std::pair<QByteArray, QByteArray>> headers;

    // The first header of that name (compared ignoring case), or a null array.
    QByteArray header(QByteArrayView name) const
    {
        for (const auto& [key, value] : headers) {
            if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0) {
                return value;
            }
        }
        return {};
    }
};
