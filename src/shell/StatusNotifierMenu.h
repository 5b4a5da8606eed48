#pragma once

#include "shell/StatusItem.h"

#include <QDBusContext>
#include <QHash>
#include <QObject>
#include <QVariantMap>

class DBusMenuAdaptor;

// The status item's menu as com.canonical.dbusmenu, the menu protocol every panel family reads:
// one entry per watched token (the pinned one checked), then "打开 Zentrow", "设置" and "退出".
//
// Token entries keep their id for as long as the token is listed and ids are never reused, so
// an event that arrives for an entry the menu no longer shows does nothing rather than pinning
// whatever took its place.
// QtDBus hands the calling message to the exported object, not to its adaptor: the menu is the
// QDBusContext through which the adaptor answers with errors.
class StatusNotifierMenu final : public QObject, public QDBusContext {
    Q_OBJECT

public:
    enum FixedId : int {
        kRootId = 0,
        kOpenId = 1,
        kSettingsId = 2,
        kQuitId = 3,
        kTokensSeparatorId = 4,
        kQuitSeparatorId = 5,
        kFirstTokenId = 100,
    };
    static inline const QString kOpenLabel = QStringLiteral("打开 Zentrow");
    static inline const QString kSettingsLabel = QStringLiteral("设置");
    static inline const QString kQuitLabel = QStringLiteral("退出");

    explicit StatusNotifierMenu(QObject* parent = nullptr);

    void setTokens(const QList<StatusItemToken>& tokens);
    uint revision() const { return m_revision; }

    // The menu's items in display order below the root.
    QList<int> childIds() const;
    bool contains(int id) const;
    // An item's properties, limited to `names` unless that is empty.
    QVariantMap properties(int id, const QStringList& names = {}) const;

    // A host's event on an item; unknown ids and event kinds are ignored.
    void handleEvent(int id, const QString& eventId);

Q_SIGNALS:
    void layoutUpdated(uint revision, int parent);
    void itemsPropertiesUpdated(const QList<int>& ids);
    void openRequested();
    void pinRequested(const QString& tokenID);
    void settingsRequested();
    void quitRequested();

private:
    QString tokenIdFor(int menuId) const;

    QList<StatusItemToken> m_tokens;
    QList<int> m_tokenMenuIds; // parallel to m_tokens
    QHash<QString, int> m_menuIdByToken;
    int m_nextTokenId = kFirstTokenId;
    uint m_revision = 1;
};
