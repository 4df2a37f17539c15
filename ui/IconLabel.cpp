#include "ui/IconLabel.h"

#include "ui/Glyphs.h"

#include <QEvent>
#include <QFontInfo>
#include <QPainter>

#include <cmath>

namespace vibrelle::ui {

IconLabel::IconLabel(const QString &symbolName, const QString &text, QWidget *parent)
    : QWidget(parent)
    , m_symbolName(symbolName)
    , m_text(text) {
    setAccessibleName(text);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void IconLabel::setContent(const QString &symbolName, const QString &text) {
    if (symbolName == m_symbolName && text == m_text) {
        return;
    }
    m_symbolName = symbolName;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void IconLabel::setGlyphScale(double scale) {
    m_glyphScale = scale;
    updateGeometry();
    update();
}

void IconLabel::setSpacing(int spacing) {
    m_spacing = spacing;
    updateGeometry();
    update();
}

int IconLabel::glyphSide() const {
    return static_cast<int>(std::lround(QFontInfo(font()).pixelSize() * m_glyphScale));
}

QSize IconLabel::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    const int width = glyphSide() + m_spacing + metrics.horizontalAdvance(m_text);
    return {width + 1, std::max(metrics.height(), glyphSide())};
}

void IconLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color =
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    const int side = glyphSide();
    const QRectF glyphRect(0, (height() - side) / 2.0, side, side);
    paintGlyph(painter, glyphRect, m_symbolName, color);
    painter.setPen(color);
    painter.setFont(font());
    const QRect textRect(side + m_spacing, 0, width() - side - m_spacing, height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
}

void IconLabel::changeEvent(QEvent *event) {
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

} // namespace vibrelle::ui
