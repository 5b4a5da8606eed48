// The installed tree and the Debian package, built from this build folder the way a user
// installs them, and checked with the desktop's own validators.
#include "testlib/CommandOutput.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kAppId = QStringLiteral("app.zentrow.Zentrow");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The value of `key` in a key file's lines.
QString value(const QByteArray& contents, const QString& key)
{
    const QRegularExpression line(QStringLiteral("^%1=(.*)$").arg(QRegularExpression::escape(key)),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(contents)).captured(1);
}

// Relative paths of the files below `folder`, sorted.
QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

QString tool(const char* name, const char* package)
{
    const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (path.isEmpty())
        qWarning("%s is not installed (Debian package %s)", name, package);
    return path;
}

} // namespace

class TestPackaging : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_prefix.isValid());
        // Installing and packing rewrite the build folder's install manifest, which lists the user's
        // own install; it is put back as it was when the test ends.
        m_hadManifest = QFileInfo::exists(manifestPath());
        m_manifest = readAll(manifestPath());
        const CommandRun install = runCommand(QStringLiteral(CMAKE_COMMAND_PATH),
                                              {"--install", ZENTROW_BUILD_DIR, "--prefix", m_prefix.path()});
        QVERIFY2(install.exitCode == 0, install.out + install.err);
    }

    void cleanupTestCase()
    {
        QFile manifest(manifestPath());
        if (!m_hadManifest) {
            manifest.remove();
            return;
        }
        QVERIFY(manifest.open(QIODevice::WriteOnly) && manifest.write(m_manifest) == m_manifest.size());
    }

    // cmake --install
    void startsTheInstalledProgramsByTheirPaths()
    {
        // The installed programs run from the prefix (no path into the build folder is needed).
        QCOMPARE(runCommand(installed("bin/zentrow-backend"), {"--version"}).out,
                 QByteArray("zentrow-backend " ZENTROW_VERSION "\n"));
        const QByteArray desktop = readAll(installed("share/applications/" + kAppId + ".desktop"));
        QCOMPARE((QStringList{value(desktop, "Exec"), value(desktop, "Icon")}),
                 (QStringList{installed("bin/zentrow"), kAppId}));

        const QByteArray socket = readAll(installed(QStringLiteral(ZENTROW_UNIT_DIR "/zentrow-backend.socket")));
        QCOMPARE(value(socket, "ListenStream"), QStringLiteral("127.0.0.1:8737"));
        const QByteArray service = readAll(installed(QStringLiteral(ZENTROW_UNIT_DIR "/zentrow-backend.service")));
        const QString execStart = value(service, "ExecStart");
        QVERIFY2(execStart.startsWith(installed("bin/zentrow-backend") + " --exit-when-idle "), qPrintable(execStart));
    }

    void installsTheIconTheme()
    {
        // Every size the tray may ask for is in the source tree; all of it is installed.
        QCOMPARE(filesBelow(installed("share/icons/hicolor")),
                 filesBelow(QStringLiteral(ZENTROW_SOURCE_DIR "/data/icons/hicolor")));
    }

    void desktopEntryValidates()
    {
        const QString validator = tool("desktop-file-validate", "desktop-file-utils");
        QVERIFY(!validator.isEmpty());
        const CommandRun result = runCommand(validator, {installed("share/applications/" + kAppId + ".desktop")});
        // Hints are suggestions; errors and warnings are not.
        QVERIFY2(result.exitCode == 0 && !result.out.contains("error:") && !result.out.contains("warning:"),
                 result.out + result.err);
    }

    void metainfoValidates()
    {
        const QString validator = tool("appstreamcli", "appstream");
        QVERIFY(!validator.isEmpty());
        const QString metainfo = installed("share/metainfo/" + kAppId + ".metainfo.xml");
        const CommandRun result = runCommand(validator, {"validate", "--no-net", "--no-color", metainfo});
        QVERIFY2(result.exitCode == 0, result.out + result.err);

        // The screenshot is the one kept in the repository.
        const QString contents = QString::fromUtf8(readAll(metainfo));
        QVERIFY(contents.contains("<launchable type=\"desktop-id\">" + kAppId + ".desktop</launchable>"));
        // The version being installed has its release entry.
        QVERIFY(contents.contains(QStringLiteral("<release version=\"%1\"").arg(ZENTROW_VERSION)));
        const QRegularExpression image(QStringLiteral("<image>https://[^<]+/(docs/[^<]+\\.png)</image>"));
        const QRegularExpressionMatch match = image.match(contents);
        QVERIFY(match.hasMatch());
        QVERIFY(QFileInfo::exists(QStringLiteral(ZENTROW_SOURCE_DIR "/") + match.captured(1)));
    }

    void userUnitsVerify()
    {
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed (Debian package systemd)");
        // A user manager's offline check wants a runtime folder of its own.
        QTemporaryDir runtime;
        QVERIFY(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        const CommandRun result =
            runCommand(analyze,
                       {"verify", "--user", installed(QStringLiteral(ZENTROW_UNIT_DIR "/zentrow-backend.socket")),
                        installed(QStringLiteral(ZENTROW_UNIT_DIR "/zentrow-backend.service"))},
                       environment);
        QVERIFY2(result.exitCode == 0 && result.err.isEmpty(), result.out + result.err);
    }

    void plasmaAppletPasses()
    {
        const QString kpackagetool = tool("kpackagetool5", "kpackagetool5");
        QVERIFY(!kpackagetool.isEmpty());
        const QString root = installed("share/plasma/plasmoids");
        const QString applet = root + "/app.zentrow.applet";
        QVERIFY(QFileInfo(applet + "/contents/ui/main.qml").isFile());
        // Plasma's own tool finds the installed package where plasmashell looks...
        const CommandRun list = runCommand(kpackagetool, {"--type", "Plasma/Applet", "--packageroot", root, "--list"});
        QVERIFY2(list.exitCode == 0 && list.out.split('\n').contains("app.zentrow.applet"), list.out + list.err);
        // ...installs it for one user, as "Get New Widgets" would, and reads it back...
        QTemporaryDir data;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
        const CommandRun install =
            runCommand(kpackagetool, {"--type", "Plasma/Applet", "--install", applet}, environment);
        QVERIFY2(install.exitCode == 0, install.out + install.err);
        const CommandRun show =
            runCommand(kpackagetool, {"--type", "Plasma/Applet", "--show", "app.zentrow.applet"}, environment);
        QVERIFY2(show.exitCode == 0 && show.out.contains("Name : Zentrow"), show.out + show.err);
        // ...and describes it to software centres.
        const CommandRun metainfo = runCommand(kpackagetool, {"--appstream-metainfo", applet});
        QVERIFY2(metainfo.exitCode == 0 && metainfo.out.contains("<id>app.zentrow.applet</id>") &&
                     metainfo.out.contains("<extends>org.kde.plasmashell</extends>"),
                 metainfo.out + metainfo.err);
    }

    void manPagesListEveryOption()
    {
        // A man page that misses an option `--help` lists has drifted from the program.
        const QRegularExpression longOption(QStringLiteral("--([a-z][a-z-]+)"));
        for (const QString& program : {QStringLiteral("zentrow"), QStringLiteral("zentrow-backend")}) {
            const QString page = installed("share/man/man1/" + program + ".1");
            const QString source = QString::fromUtf8(readAll(page)).replace(QStringLiteral("\\-"), QStringLiteral("-"));
            QVERIFY2(!source.isEmpty(), qPrintable(page));
            const CommandRun help = runCommand(installed("bin/" + program), {"--help"});
            QCOMPARE(help.exitCode, 0);
            QRegularExpressionMatchIterator it = longOption.globalMatch(QString::fromUtf8(help.out));
            int options = 0;
            while (it.hasNext()) {
                const QString option = it.next().captured(0);
                QVERIFY2(source.contains(option), qPrintable(program + ": " + option));
                ++options;
            }
            QVERIFY(options >= 2);
        }
    }

    // make package
    void buildsADebianPackageLintianAccepts()
    {
        if (ZENTROW_SANITIZED)
            QSKIP("a package of sanitizer builds is not what ships; the release build's suite packs it");
        const QString dpkgDeb = tool("dpkg-deb", "dpkg");
        QVERIFY(!dpkgDeb.isEmpty());
        QVERIFY(!tool("dpkg-buildpackage", "dpkg-dev").isEmpty() && !tool("dh", "debhelper").isEmpty() &&
                !tool("lintian", "lintian").isEmpty());

        // The script `make package` runs; it fails on any lintian error or warning.
        QTemporaryDir output;
        const CommandRun pack = runCommand(QStringLiteral(ZENTROW_SOURCE_DIR "/scripts/build-deb.sh"),
                                           {ZENTROW_BUILD_DIR, output.path()}, {}, 600'000);
        QVERIFY2(pack.exitCode == 0, pack.out + pack.err);
        const QString architecture =
            QString::fromLatin1(runCommand(QStringLiteral("dpkg"), {"--print-architecture"}).out.trimmed());
        const QString deb = output.filePath(QStringLiteral("zentrow_%1_%2.deb").arg(ZENTROW_VERSION, architecture));
        QVERIFY2(QFileInfo(deb).isFile(), qPrintable(QDir(output.path()).entryList().join(' ')));

        const CommandRun fields = runCommand(dpkgDeb, {"-f", deb, "Package", "Version", "Depends"});
        QCOMPARE(fields.exitCode, 0);
        const QString control = QString::fromUtf8(fields.out);
        // The package and the programs' --version agree.
        QVERIFY2(control.contains("Version: " ZENTROW_VERSION "\n"), qPrintable(control));
        // dpkg-shlibdeps found the real libraries, with versions; Qt's platform plugins are named too.
        for (const char* library : {"libc6 (>= ", "libqt6core6 (>= ", "libqt6widgets6 (>= ", "libqt6dbus6 (>= ",
                                    "libqt6network6 (>= ", "qt6-qpa-plugins"}) {
            QVERIFY2(control.contains(QLatin1String(library)), qPrintable(control));
        }

        const CommandRun contents = runCommand(dpkgDeb, {"-c", deb});
        QCOMPARE(contents.exitCode, 0);
        // Everything `cmake --install` puts in place, below /usr (compressed where Debian compresses
        // documents); lintian insists on the copyright file and the changelog.
        for (const QString& file : filesBelow(m_prefix.path())) {
            const QByteArray path = " ./usr/" + file.toUtf8();
            QVERIFY2(contents.out.contains(path + "\n") || contents.out.contains(path + ".gz\n"), path.constData());
        }
        QVERIFY(!contents.out.contains("/usr/local/"));

        // Inside the package the files point at /usr, and every user's manager gets the socket enabled
        // the way Debian's packages do it, without calling systemctl.
        QTemporaryDir unpacked;
        QCOMPARE(runCommand(dpkgDeb, {"-x", deb, unpacked.path()}).exitCode, 0);
        QCOMPARE(value(readAll(unpacked.filePath("usr/share/applications/" + kAppId + ".desktop")), "Exec"),
                 QStringLiteral("/usr/bin/zentrow"));
        QVERIFY(value(readAll(unpacked.filePath("usr/" ZENTROW_UNIT_DIR "/zentrow-backend.service")), "ExecStart")
                    .startsWith("/usr/bin/zentrow-backend "));
        QCOMPARE(runCommand(dpkgDeb, {"-e", deb, unpacked.filePath("DEBIAN")}).exitCode, 0);
        const QByteArray postinst = readAll(unpacked.filePath("DEBIAN/postinst"));
        QVERIFY2(postinst.contains("deb-systemd-helper --user enable") && postinst.contains("zentrow-backend.socket"),
                 postinst);
        QVERIFY(!postinst.contains("systemctl"));
    }

private:
    static QString manifestPath() { return QStringLiteral(ZENTROW_BUILD_DIR "/install_manifest.txt"); }

    QTemporaryDir m_prefix;
    bool m_hadManifest = false;
    QByteArray m_manifest;
    QString installed(const QString& path) const { return m_prefix.filePath(path); }
};

QTEST_GUILESS_MAIN(TestPackaging)
#include "tst_packaging.moc"
