#pragma once

#include "model/PriceAlert.h"

#include <QString>
#include <QWidget>

class AppState;
class PlainLabel;
class PriceAlertListView;
class QAbstractButton;
class QLineEdit;
class SegmentedControl;

// The "提醒" part of an expanded row: a choice of above, below or a 24-hour move, a threshold
// prefilled from the token's market price, an add button, and the token's alerts below, each
// with a switch and a delete. The row places it under its painted detail panel.
class PriceAlertPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPaddingX = 12;
    static constexpr int kPaddingBottom = 10;
    static constexpr int kControlHeight = 22;
    // The move an above or below alert is prefilled with, and a change alert's percentage.
    static constexpr double kSuggestedMove = 0.05;
    static constexpr double kSuggestedChange = 5;

    PriceAlertPanel(AppState& appState, const QString& tokenID, QWidget* parent = nullptr);

    PriceAlert::Kind kind() const;
    void setKind(PriceAlert::Kind kind);
    QLineEdit* field() const { return m_field; }
    QAbstractButton* addButton() const { return m_add; }
    PriceAlertListView* list() const { return m_list; }
    // Whether the field is marked as not holding a usable number.
    bool isFieldInvalid() const { return m_invalid; }

    // The threshold a new alert of `kind` starts from for a market price: 5 % above or below,
    // rounded to three significant digits (four below a cent), or nothing without a price.
    static std::optional<double> suggestedThreshold(PriceAlert::Kind kind, double price);
    // The same as the field shows it: grouped, with only the digits the rounding kept.
    static QString suggestionText(PriceAlert::Kind kind, double price);
    // What the user typed, in the current locale or with a plain point; nothing when unusable.
    static std::optional<double> parsedThreshold(const QString& text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Clicks between the controls stay in the panel rather than collapsing the row.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Keys the controls leave (the field's Return, arrows) must not reach the row, which would
    // collapse or move away; Escape still closes the popover.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void prefill();
    void addAlert();
    void setInvalid(bool invalid);

    AppState& m_appState;
    QString m_tokenID;
    SegmentedControl* m_kinds = nullptr;
    QLineEdit* m_field = nullptr;
    PlainLabel* m_unit = nullptr;
    QAbstractButton* m_add = nullptr;
    PlainLabel* m_message = nullptr;
    PriceAlertListView* m_list = nullptr;
    bool m_invalid = false;
};
