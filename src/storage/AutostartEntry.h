#pragma once

#include <QByteArray>
#include <QString>

// The user's XDG autostart entry for the app: $XDG_CONFIG_HOME/autostart/app.zentrow.Zentrow.desktop.
// Desktop sessions start every enabled entry of that folder at login, so the file existing (and
// not switched off inside) is the whole state; nothing of it is cached here.
class AutostartEntry {
public:
    static constexpr const char* kFileName = "app.zentrow.Zentrow.desktop";

    // `folder` is the autostart folder; `executable` the program the entry starts.
    AutostartEntry(QString folder, QString executable);

    // The entry for this user and the running binary.
    static AutostartEntry forCurrentUser();
    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when that is unset or not absolute.
    static QString userFolder();

    QString folder() const { return m_folder; }
    QString filePath() const;
    QString executable() const { return m_executable; }

    // True when the file is there and neither `Hidden=true` nor `X-GNOME-Autostart-enabled=false`
    // (what a session's startup settings write to switch an entry off) says otherwise.
    bool isEnabled() const;

    // Writes the entry (atomically, creating the folder when it is missing) or removes it. On
    // failure the file is as it was and `problem` says why, in the user's words.
    bool setEnabled(bool enabled, QString* problem) const;

    // The entry's text for `executable`.
    static QByteArray contents(const QString& executable);
    // `executable` as the value of an Exec key: quoted where the desktop entry format asks.
    static QString execValue(const QString& executable);

private:
    QString m_folder;
    QString m_executable;
};
