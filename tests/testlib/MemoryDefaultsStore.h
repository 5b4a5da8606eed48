#pragma once

#include "storage/DefaultsStore.h"

#include <QHash>
#include <QVariant>

// An in-memory DefaultsStore that counts writes; a value may be any QVariant, as a real
// settings file may hold a string where binary data is expected.
class MemoryDefaultsStore final : public DefaultsStore {
public:
    std::optional<QByteArray> data(const QString& key) const override
    {
        const QVariant value = values.value(key);
        if (value.typeId() != QMetaType::QByteArray) {
            return std::nullopt;
        }
        return value.toByteArray();
    }
    void set(const QByteArray& value, const QString& key) override
    {
        values.insert(key, value);
        ++writes;
    }

    QHash<QString, QVariant> values;
    int writes = 0;
};
