#include "ui/kit/PlainLabel.h"

PlainLabel::PlainLabel(const QString& text, const QFont& font, const QColor& color, const QString& objectName,
                       QWidget* parent)
    : QLabel(parent)
{
    setObjectName(objectName);
    setTextFormat(Qt::PlainText);
    setFont(font);
    // Inside a button a label would otherwise take the button's text role, not ours.
    setForegroundRole(QPalette::WindowText);
    setColor(color);
    setText(text);
}

void PlainLabel::setColor(const QColor& color)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, color);
    setPalette(palette);
}
