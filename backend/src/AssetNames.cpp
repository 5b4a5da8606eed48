#include "AssetNames.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {

// Larger than any name table anyone would write by hand; a wrong file is refused, not read.
constexpr qint64 kMaximumFileSize = 4 * 1024 * 1024;

bool isWebUrl(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

} // namespace

std::optional<AssetNames> AssetNames::fromJson(const QByteArray& json, QString* problem)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        *problem = QStringLiteral("not JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset);
        return std::nullopt;
    }
    const QJsonValue assets = document.object().value(QLatin1String("assets"));
    if (!assets.isArray()) {
        *problem = QStringLiteral("expected an object with an \"assets\" array");
        return std::nullopt;
    }
    AssetNames names;
    const QJsonArray list = assets.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject item = list.at(i).toObject();
        const QJsonValue id = item.value(QLatin1String("id"));
        const QJsonValue name = item.value(QLatin1String("name"));
        const QJsonValue logo = item.value(QLatin1String("logoUrl"));
        if (!id.isString() || id.toString().isEmpty() || !name.isString() || name.toString().isEmpty()) {
            *problem = QStringLiteral("assets[%1] needs a non-empty \"id\" and \"name\"").arg(i);
            return std::nullopt;
        }
        if (!logo.isUndefined() && !logo.isNull() && !(logo.isString() && isWebUrl(logo.toString()))) {
            *problem = QStringLiteral("assets[%1]: \"logoUrl\" must be an absolute http or https URL").arg(i);
            return std::nullopt;
        }
        const QString key = id.toString().toUpper();
        if (names.m_entries.contains(key)) {
            *problem = QStringLiteral("assets[%1]: \"%2\" is listed twice").arg(i).arg(key);
            return std::nullopt;
        }
        names.m_entries.insert(key, Entry{name.toString(), logo.toString(), static_cast<int>(i)});
    }
    return names;
}

std::optional<AssetNames> AssetNames::fromFile(const QString& path, QString* problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (file.size() > kMaximumFileSize) {
        *problem = QStringLiteral("%1: larger than 4 MiB").arg(path);
        return std::nullopt;
    }
    QString why;
    std::optional<AssetNames> names = fromJson(file.read(kMaximumFileSize), &why);
    if (!names) {
        *problem = QStringLiteral("%1: %2").arg(path, why);
    }
    return names;
}

AssetNames AssetNames::shipped()
{
    QString problem;
    std::optional<AssetNames> names = fromFile(QStringLiteral(":/zentrow-backend/asset-names.json"), &problem);
    // The file is part of the build and read by a test; an unreadable copy only costs the names.
    Q_ASSERT_X(names, "AssetNames::shipped", qPrintable(problem));
    return names ? *std::move(names) : AssetNames();
}

const AssetNames::Entry* AssetNames::find(const QString& id) const
{
    const auto found = m_entries.constFind(id);
    return found == m_entries.constEnd() ? nullptr : &*found;
}
