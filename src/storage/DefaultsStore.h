#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A per-user key-value store that keeps binary values across restarts.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    // The binary value under the key; nothing when absent or when the value is not binary data.
    virtual std::optional<QByteArray> data(const QString& key) const = 0;
    // Replaces any earlier value under the key.
    virtual void set(const QByteArray& value, const QString& key) = 0;
};
