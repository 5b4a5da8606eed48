#pragma once

#include <QDateTime>
#include <QString>

// The network-error banner: the full message and when the failure was handled.
struct RefreshErrorBannerState {
    QString message;
    QDateTime occurredAt;

    friend bool operator==(const RefreshErrorBannerState&, const RefreshErrorBannerState&) = default;
};
