#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

// The app's icon, shipped as a freedesktop hicolor theme tree (data/icons/hicolor in the
// sources, share/icons/hicolor once installed).
class AppIcon {
public:
    static inline const QString kName = QStringLiteral("app.zentrow.Zentrow");
    static constexpr int kPixelSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

    // The folder that holds hicolor/ with our icon: the install tree next to the executable
    // when it has the icon, else the source tree; empty when neither does.
    static QString themePath();
    // The icon at `size` x `size`, from the nearest file at or above that size.
    static QImage image(int size);
    // Every size, for window icons; each is read when a window asks for it.
    static QIcon icon();

private:
    static QString fileFor(const QString& themePath, int size);
    // What the files show, drawn, for a binary that finds no icon tree.
    static QImage painted(int size);
};
