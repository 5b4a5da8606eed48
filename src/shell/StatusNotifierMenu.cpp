#include "shell/StatusNotifierMenu.h"

#include "shell/StatusNotifierTypes.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>

namespace {

const QString kInvalidIdError = QStringLiteral("com.canonical.dbusmenu.Error.InvalidId");

// dbusmenu labels take "_" as the mnemonic marker; a literal underscore is written twice.
QString menuLabel(const QString& text)
{
    QString label = text;
    return label.replace(QLatin1Char('_'), QStringLiteral("__"));
}

} // namespace

// com.canonical.dbusmenu on the wire; everything it answers comes from the menu object.
class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuAdaptor(StatusNotifierMenu* menu)
        : QDBusAbstractAdaptor(menu)
        , m_menu(menu)
    {
        connect(menu, &StatusNotifierMenu::layoutUpdated, this, &DBusMenuAdaptor::LayoutUpdated);
        connect(menu, &StatusNotifierMenu::itemsPropertiesUpdated, this, [this](const QList<int>& ids) {
            DBusMenuItemPropertiesList updated;
            for (int id : ids) {
                updated.append(DBusMenuItemProperties{id, m_menu->properties(id)});
            }
            Q_EMIT ItemsPropertiesUpdated(updated, {});
        });
    }

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, DBusMenuLayoutItem& layout)
    {
        if (!m_menu->contains(parentId)) {
            m_menu->sendErrorReply(kInvalidIdError, QStringLiteral("no menu item %1").arg(parentId));
            return 0;
        }
        layout = DBusMenuLayoutItem{parentId, m_menu->properties(parentId, propertyNames), {}};
        if (parentId == StatusNotifierMenu::kRootId && recursionDepth != 0) {
            for (int id : m_menu->childIds()) {
                layout.children.append(QDBusVariant(
                    QVariant::fromValue(DBusMenuLayoutItem{id, m_menu->properties(id, propertyNames), {}})));
            }
        }
        return m_menu->revision();
    }

    DBusMenuItemPropertiesList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
    {
        DBusMenuItemPropertiesList list;
        for (int id : ids) {
            if (m_menu->contains(id)) {
                list.append(DBusMenuItemProperties{id, m_menu->properties(id, propertyNames)});
            }
        }
        return list;
    }

    QDBusVariant GetProperty(int id, const QString& name)
    {
        const QVariantMap properties = m_menu->properties(id, {name});
        if (!properties.contains(name)) {
            m_menu->sendErrorReply(kInvalidIdError, QStringLiteral("no property %1 on menu item %2").arg(name).arg(id));
            return QDBusVariant(QString());
        }
        return QDBusVariant(properties.value(name));
    }

    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp)
    {
        Q_UNUSED(data);
        Q_UNUSED(timestamp);
        m_menu->handleEvent(id, eventId);
    }

    QList<int> EventGroup(const DBusMenuEventList& events)
    {
        QList<int> idErrors;
        for (const DBusMenuEvent& event : events) {
            if (m_menu->contains(event.id)) {
                m_menu->handleEvent(event.id, event.eventId);
            } else {
                idErrors.append(event.id);
            }
        }
        return idErrors;
    }

    // The menu is always up to date, so a host never has to fetch it again before showing it.
    bool AboutToShow(int id)
    {
        Q_UNUSED(id);
        return false;
    }

    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
    {
        idErrors.clear();
        for (int id : ids) {
            if (!m_menu->contains(id)) {
                idErrors.append(id);
            }
        }
        return {};
    }

Q_SIGNALS:
    void ItemsPropertiesUpdated(const DBusMenuItemPropertiesList& updatedProps,
                                const DBusMenuItemPropertyNamesList& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    StatusNotifierMenu* m_menu;
};

StatusNotifierMenu::StatusNotifierMenu(QObject* parent)
    : QObject(parent)
{
    registerStatusNotifierTypes();
    new DBusMenuAdaptor(this);
}

void StatusNotifierMenu::setTokens(const QList<StatusItemToken>& tokens)
{
    if (tokens == m_tokens) {
        return;
    }
    QList<int> menuIds;
    for (const StatusItemToken& token : tokens) {
        auto it = m_menuIdByToken.constFind(token.tokenID);
        if (it == m_menuIdByToken.constEnd()) {
            it = m_menuIdByToken.insert(token.tokenID, m_nextTokenId++);
        }
        menuIds.append(*it);
    }
    const bool sameItems = menuIds == m_tokenMenuIds;
    QList<int> changed;
    if (sameItems) {
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            if (!(tokens[i] == m_tokens[i])) {
                changed.append(menuIds[i]);
            }
        }
    }
    m_tokens = tokens;
    m_tokenMenuIds = menuIds;
    if (sameItems) {
        Q_EMIT itemsPropertiesUpdated(changed);
    } else {
        Q_EMIT layoutUpdated(++m_revision, kRootId);
    }
}

QList<int> StatusNotifierMenu::childIds() const
{
    QList<int> ids = m_tokenMenuIds;
    if (!ids.isEmpty()) {
        ids.append(kTokensSeparatorId);
    }
    ids.append({kOpenId, kSettingsId, kQuitSeparatorId, kQuitId});
    return ids;
}

bool StatusNotifierMenu::contains(int id) const
{
    return id == kRootId || childIds().contains(id);
}

QString StatusNotifierMenu::tokenIdFor(int menuId) const
{
    const qsizetype index = m_tokenMenuIds.indexOf(menuId);
    return index < 0 ? QString() : m_tokens[index].tokenID;
}

QVariantMap StatusNotifierMenu::properties(int id, const QStringList& names) const
{
    QVariantMap all;
    switch (id) {
    case kRootId:
        all.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        break;
    case kOpenId:
        all.insert(QStringLiteral("label"), menuLabel(kOpenLabel));
        break;
    case kSettingsId:
        all.insert(QStringLiteral("label"), menuLabel(kSettingsLabel));
        break;
    case kQuitId:
        all.insert(QStringLiteral("label"), menuLabel(kQuitLabel));
        break;
    case kTokensSeparatorId:
    case kQuitSeparatorId:
        all.insert(QStringLiteral("type"), QStringLiteral("separator"));
        break;
    default: {
        const qsizetype index = m_tokenMenuIds.indexOf(id);
        if (index < 0) {
            return {};
        }
        const StatusItemToken& token = m_tokens[index];
        all.insert(QStringLiteral("label"), menuLabel(token.text));
        all.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        all.insert(QStringLiteral("toggle-state"), token.pinned ? 1 : 0);
    }
    }
    if (names.isEmpty()) {
        return all;
    }
    QVariantMap some;
    for (const QString& name : names) {
        if (all.contains(name)) {
            some.insert(name, all.value(name));
        }
    }
    return some;
}

void StatusNotifierMenu::handleEvent(int id, const QString& eventId)
{
    // Hosts also report "opened", "closed" and "hovered"; only a chosen entry does anything.
    if (eventId != QLatin1String("clicked")) {
        return;
    }
    switch (id) {
    case kOpenId:
        Q_EMIT openRequested();
        return;
    case kSettingsId:
        Q_EMIT settingsRequested();
        return;
    case kQuitId:
        Q_EMIT quitRequested();
        return;
    default:
        break;
    }
    const QString tokenID = tokenIdFor(id);
    if (!tokenID.isEmpty()) {
        Q_EMIT pinRequested(tokenID);
    }
}

#include "StatusNotifierMenu.moc"
