#include "storage/AutostartEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

// Characters that make an Exec argument need quotes (Desktop Entry Specification, "The Exec key").
const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");

QString text(const char* source)
{
    return QCoreApplication::translate("AutostartEntry", source);
}

} // namespace

AutostartEntry::AutostartEntry(QString folder, QString executable)
    : m_folder(std::move(folder))
    , m_executable(std::move(executable))
{
}

AutostartEntry AutostartEntry::forCurrentUser()
{
    return AutostartEntry(userFolder(), QCoreApplication::applicationFilePath());
}

QString AutostartEntry::userFolder()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString config =
        QDir::isAbsolutePath(configured) ? configured : QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(config + QStringLiteral("/autostart"));
}

QString AutostartEntry::filePath() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(kFileName);
}

bool AutostartEntry::isEnabled() const
{
    QFile file(filePath());
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inMainGroup || equals < 0) {
            continue;
        }
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return true;
}

bool AutostartEntry::setEnabled(bool enabled, QString* problem) const
{
    const QString path = filePath();
    if (!enabled) {
        QFile file(path);
        if (!file.exists() && !QFileInfo(path).isSymLink()) {
            return true;
        }
        if (!file.remove()) {
            *problem = text(QT_TRANSLATE_NOOP("AutostartEntry", "无法删除 %1：%2")).arg(path, file.errorString());
            return false;
        }
        return true;
    }

    const QFileInfo folder(m_folder);
    if (folder.exists() && !folder.isDir()) {
        *problem = text(QT_TRANSLATE_NOOP("AutostartEntry", "无法创建文件夹 %1：同名的文件已存在")).arg(m_folder);
        return false;
    }
    if (!QDir().mkpath(m_folder)) {
        *problem = text(QT_TRANSLATE_NOOP("AutostartEntry", "无法创建文件夹 %1")).arg(m_folder);
        return false;
    }
    // Written beside the entry and renamed over it, so a failure never leaves half a file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents(m_executable)) < 0 || !file.commit()) {
        *problem = text(QT_TRANSLATE_NOOP("AutostartEntry", "无法写入 %1：%2")).arg(path, file.errorString());
        return false;
    }
    return true;
}

QString AutostartEntry::execValue(const QString& executable)
{
    QString argument;
    const bool quoted = executable.isEmpty() || std::any_of(executable.begin(), executable.end(),
                                                            [](QChar c) { return kReserved.contains(c); });
    for (const QChar c : executable) {
        if (quoted && (c == u'"' || c == u'`' || c == u'$' || c == u'\\')) {
            argument += QLatin1Char('\\');
        }
        // A lone percent sign would start a field code.
        argument += c == u'%' ? QStringLiteral("%%") : QString(c);
    }
    if (quoted) {
        argument = QLatin1Char('"') + argument + QLatin1Char('"');
    }
    // The value is a string too, whose own escapes come on top of the Exec quoting.
    QString value;
    for (const QChar c : argument) {
        if (c == u'\\') {
            value += QStringLiteral("\\\\");
        } else if (c == u'\n') {
            value += QStringLiteral("\\n");
        } else if (c == u'\t') {
            value += QStringLiteral("\\t");
        } else if (c == u'\r') {
            value += QStringLiteral("\\r");
        } else {
            value += c;
        }
    }
    return value;
}

QByteArray AutostartEntry::contents(const QString& executable)
{
    return QByteArrayLiteral("[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Zentrow\n"
                             "Comment=Cryptocurrency prices in the status bar\n"
                             "Comment[zh_CN]=在状态栏查看加密货币价格\n"
                             "Exec=") +
           execValue(executable).toUtf8() +
           QByteArrayLiteral("\n"
                             "Icon=app.zentrow.Zentrow\n"
                             "Terminal=false\n"
                             "StartupNotify=false\n"
                             "X-GNOME-Autostart-enabled=true\n");
}
