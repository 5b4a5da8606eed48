// Reading a real desktop's screen for the end-to-end tests: the app's mapped windows as the X
// server has them, the app's icon on a panel, and the things drawn along a panel.
#pragma once

#include "shell/DockWindows.h"
#include "testlib/CommandOutput.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QList>
#include <QRect>
#include <QRegularExpression>

namespace PanelScreen {

// Geometries (physical pixels) of the top-level windows of process `pid` that are mapped.
inline QList<QRect> mappedWindows(qint64 pid)
{
    QList<QRect> windows;
    const QStringList search{QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                             QString::number(pid)};
    // xdotool dies with BadWindow when another client's window (a panel's closing popup) goes
    // away while it walks the tree. That says nothing of ours: walk it again.
    CommandRun run = runCommand(QStringLiteral("xdotool"), search, {}, 10'000);
    for (int attempt = 0; attempt < 10 && run.err.contains("BadWindow"); ++attempt) {
        run = runCommand(QStringLiteral("xdotool"), search, {}, 10'000);
    }
    for (const QString& id : QString::fromUtf8(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString info = commandOutput(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id.trimmed()});
        if (!info.contains(QStringLiteral("IsViewable"))) {
            continue;
        }
        auto field = [&info](const char* name) {
            const QRegularExpression pattern(QStringLiteral("%1:\\s*(-?\\d+)").arg(QLatin1String(name)));
            return pattern.match(info).captured(1).toInt();
        };
        windows.append(
            QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height")));
    }
    return windows;
}

// The centre of the icon's orange coin, the only orange on any of the panels; null if absent.
inline QPoint findIcon(const QImage& image, const QRect& area)
{
    qint64 sumX = 0;
    qint64 sumY = 0;
    qint64 count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 215 && c.green() > 95 && c.green() < 195 && c.blue() < 90) {
                sumX += x;
                sumY += y;
                ++count;
            }
        }
    }
    return count < 20 ? QPoint() : QPoint(int(sumX / count), int(sumY / count));
}

// Columns of `strip` that differ from the panel's own colour, as runs separated by gaps wider than
// a space: texts and icons, left to right.
inline QList<QRect> panelRuns(const QImage& screen, const QRect& strip)
{
    const QImage image = screen.convertToFormat(QImage::Format_RGB32);
    const QRgb panel = image.pixel(strip.left() + 2, strip.center().y());
    const auto differs = [&](int x) {
        for (int y = strip.top(); y <= strip.bottom(); ++y) {
            const QRgb c = reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
            if (qAbs(qRed(c) - qRed(panel)) + qAbs(qGreen(c) - qGreen(panel)) + qAbs(qBlue(c) - qBlue(panel)) > 90) {
                return true;
            }
        }
        return false;
    };
    constexpr int kGap = 10;
    QList<QRect> runs;
    int start = -1;
    int last = -1;
    for (int x = strip.left(); x <= strip.right(); ++x) {
        if (!differs(x)) {
            continue;
        }
        if (start >= 0 && x - last > kGap) {
            runs.append(QRect(start, strip.top(), last - start + 1, strip.height()));
            start = -1;
        }
        if (start < 0) {
            start = x;
        }
        last = x;
    }
    if (start >= 0) {
        runs.append(QRect(start, strip.top(), last - start + 1, strip.height()));
    }
    return runs;
}

// The panels' own windows along the top or bottom edge of `screen`, as the X server has them.
inline QList<QRect> panelDocks(const QRect& screen, bool bottom)
{
    QList<QRect> docks;
    for (const QRect& dock : DockWindows::geometries()) {
        if (dock.width() > dock.height() &&
            (bottom ? dock.bottom() >= screen.bottom() - 16 : dock.top() <= screen.top() + 16)) {
            docks.append(dock);
        }
    }
    return docks;
}

// How wide `text` is in Plasma's panel font (Noto Sans 10 pt) at `scale`.
inline int panelTextWidth(const QString& text, int scale)
{
    QFont font(QStringLiteral("Noto Sans"));
    font.setPixelSize(qRound(10 * 96 / 72.0 * scale));
    return QFontMetrics(font).horizontalAdvance(text);
}

} // namespace PanelScreen
