#include "ui/SectionRow.h"

#include "ui/Glyphs.h"
#include "ui/TesterPalette.h"

#include <QPainter>
#include <QPainterPath>

namespace vibrelle::ui {
namespace {
constexpr int padding = 11;
constexpr int glyphBox = 20;
constexpr int glyphSize = 16;
constexpr int gap = 10;
constexpr double radius = 11;
} // namespace

SectionRow::SectionRow(const QString &symbolName, const QString &title, QWidget *parent)
    : TabButton(parent)
    , m_symbolName(symbolName) {
    setText(title);
    setAccessibleName(title);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

QFont SectionRow::titleFont() const {
    return designFont(13, isChecked() ? QFont::DemiBold : QFont::Normal);
}

QSize SectionRow::sizeHint() const {
    // Measured with the semibold face so that selecting a row never changes its size.
    const QFontMetrics metrics(designFont(13, QFont::DemiBold));
    const int height = padding * 2 + std::max(glyphSize, metrics.height());
    const int width = padding * 2 + glyphBox + gap + metrics.horizontalAdvance(text());
    return {width, height};
}

QSize SectionRow::minimumSizeHint() const {
    return sizeHint();
}

void SectionRow::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(area, radius, radius);

    const QColor violet = TesterPalette::violet();
    if (isChecked()) {
        painter.fillPath(shape, TesterPalette::withAlpha(violet, 0.11));
    } else if ((m_hovered || isDown()) && isEnabled()) {
        painter.fillPath(shape, TesterPalette::withAlpha(violet, isDown() ? 0.09 : 0.05));
    }
    // The focus ring only after keyboard navigation, as the platform style does.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(QPen(TesterPalette::withAlpha(violet, 0.8), 1.5));
        painter.drawPath(shape);
    }

    QColor color = isChecked() ? violet : palette().color(QPalette::WindowText);
    if (!isEnabled()) {
        color = palette().color(QPalette::Disabled, QPalette::WindowText);
        if (color == palette().color(QPalette::Active, QPalette::WindowText)) {
            color = TesterPalette::withAlpha(color, 0.4);
        }
    }
    const double glyphLeft = padding + (glyphBox - glyphSize) / 2.0;
    paintGlyph(painter, QRectF(glyphLeft, (height() - glyphSize) / 2.0, glyphSize, glyphSize), m_symbolName,
               color);
    painter.setPen(color);
    painter.setFont(titleFont());
    const int textLeft = padding + glyphBox + gap;
    painter.drawText(QRect(textLeft, 0, width() - textLeft - padding, height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
}

void SectionRow::enterEvent(QEnterEvent *event) {
    m_hovered = true;
    update();
    TabButton::enterEvent(event);
}

void SectionRow::leaveEvent(QEvent *event) {
    m_hovered = false;
    update();
    TabButton::leaveEvent(event);
}

} // namespace vibrelle::ui
