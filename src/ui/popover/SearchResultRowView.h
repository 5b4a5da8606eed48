#pragma once

#include "model/TokenSummary.h"

#include <QWidget>

class QAbstractButton;
class TokenIconView;

// One search result in the add-token sheet: icon, symbol and name, and a button that adds the
// token, or a disabled "已添加" once it is in the watchlist. Only the button reacts to clicks.
class SearchResultRowView : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kCornerRadius = 12;
    static constexpr int kPaddingX = 18;
    static constexpr int kPaddingY = 14;
    static constexpr int kSpacing = 16;
    static constexpr int kIconSize = 52;

    explicit SearchResultRowView(QWidget* parent = nullptr);
    ~SearchResultRowView() override;

    void setToken(const TokenSummary& token, bool isAdded);
    const TokenSummary& token() const { return m_token; }
    bool isAdded() const { return m_isAdded; }
    QAbstractButton* addButton() const { return m_addButton; }

    // The same for every row: the fonts fix it.
    static int rowHeight();

    QSize sizeHint() const override;

Q_SIGNALS:
    void addRequested(const TokenSummary& token);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Return adds the focused result, as its button does.
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void layoutChildren();

    TokenSummary m_token;
    bool m_isAdded = false;
    bool m_hasToken = false;
    TokenIconView* m_icon = nullptr;
    QAbstractButton* m_addButton = nullptr;
};
