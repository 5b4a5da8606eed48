#include "storage/LocalStore.h"

LocalStore::LocalStore(std::shared_ptr<DefaultsStore> defaults, QString storageKey)
    : m_defaults(std::move(defaults))
    , m_storageKey(std::move(storageKey))
{
}

StoredState LocalStore::load() const
{
    const auto bytes = m_defaults->data(m_storageKey);
    if (!bytes) {
        return StoredState::makeDefault();
    }
    auto decoded = StoredState::decode(*bytes);
    // The unreadable value stays where it is until the next save replaces it.
    return decoded ? std::move(decoded).value() : StoredState::makeDefault();
}

void LocalStore::save(const StoredState& state)
{
    if (const auto bytes = state.encode()) {
        m_defaults->set(*bytes, m_storageKey);
    }
}
