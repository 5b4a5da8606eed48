#pragma once

#include "model/StoredState.h"
#include "storage/DefaultsStore.h"

#include <memory>

// Keeps the one stored document as a binary value under one key. Never fails: an unreadable
// document loads as the default state, and a document that cannot be encoded is not written.
class LocalStore {
public:
    static inline const QString kStorageKey = QStringLiteral("zentrow.stored-state");

    explicit LocalStore(std::shared_ptr<DefaultsStore> defaults, QString storageKey = kStorageKey);

    StoredState load() const;
    void save(const StoredState& state);

private:
    std::shared_ptr<DefaultsStore> m_defaults;
    QString m_storageKey;
};
