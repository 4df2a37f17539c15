#include "ui/pads/ImpulseCard.h"

#include "ui/TesterPalette.h"
#include "ui/pads/ImpulseTrace.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace vibrelle::ui {
namespace {

constexpr int textGap = 14; // between the trace block and the texts
constexpr int lineGap = 4;  // between title and detail
constexpr int minimumContentWidth = 96;

QPainterPath cardShape(const QRectF &bounds) {
    QPainterPath path;
    path.addRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), ImpulseCard::cornerRadius,
                        ImpulseCard::cornerRadius);
    return path;
}

} // namespace

ImpulseCard::ImpulseCard(const QString &title, const QString &detail, double softness, QWidget *parent)
    : QAbstractButton(parent)
    , m_detail(detail)
    , m_softness(softness) {
    setText(title);
    setAccessibleDescription(detail);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QFont ImpulseCard::titleFont() const {
    return designFont(14, QFont::DemiBold);
}

QFont ImpulseCard::detailFont() const {
    return designFont(11);
}

QRectF ImpulseCard::traceRect(const QSizeF &cardSize) {
    return QRectF(padding, padding + tracePadding, std::max(0.0, cardSize.width() - 2 * padding),
                  traceHeight);
}

QSize ImpulseCard::sizeHint() const {
    const QFontMetrics title(titleFont());
    const QFontMetrics detail(detailFont());
    const int textWidth = std::max(title.horizontalAdvance(text()), detail.horizontalAdvance(m_detail));
    const int height =
        2 * padding + 2 * tracePadding + traceHeight + textGap + title.height() + lineGap + detail.height();
    return QSize(2 * padding + std::max(textWidth, 2 * minimumContentWidth), height);
}

QSize ImpulseCard::minimumSizeHint() const {
    const QFontMetrics title(titleFont());
    const int textWidth = std::max(title.horizontalAdvance(text()), minimumContentWidth);
    return QSize(2 * padding + textWidth, sizeHint().height());
}

void ImpulseCard::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = cardShape(rect());
    const QColor violet = TesterPalette::violet();

    painter.fillPath(shape, TesterPalette::panel(palette()));
    if (isEnabled() && isDown()) {
        painter.fillPath(shape, TesterPalette::withAlpha(violet, 0.1));
    } else if (isEnabled() && underMouse()) {
        painter.fillPath(shape, TesterPalette::withAlpha(violet, 0.04));
    }
    const bool keyboardFocus = hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange);
    painter.setPen(
        QPen(keyboardFocus ? violet : TesterPalette::withAlpha(violet, 0.2), keyboardFocus ? 2.0 : 1.0));
    painter.drawPath(shape);

    const QRectF trace = traceRect(size());
    painter.save();
    if (!isEnabled()) {
        painter.setOpacity(0.45); // the drawing fades; the texts take the palette's disabled colour
    }
    painter.translate(trace.topLeft());
    QPen tracePen(violet, 2.5);
    tracePen.setCapStyle(Qt::RoundCap);
    tracePen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(tracePen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(impulseTracePath(m_softness, trace.size()));
    painter.restore();

    const QFontMetrics titleMetrics(titleFont());
    const QFontMetrics detailMetrics(detailFont());
    const int textWidth = static_cast<int>(trace.width());
    const int titleTop = static_cast<int>(trace.bottom()) + tracePadding + textGap;
    painter.setFont(titleFont());
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QRect(padding, titleTop, textWidth, titleMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     titleMetrics.elidedText(text(), Qt::ElideRight, textWidth));
    painter.setFont(detailFont());
    painter.setPen(isEnabled() ? TesterPalette::secondary(palette()) : palette().color(QPalette::Text));
    painter.drawText(
        QRect(padding, titleTop + titleMetrics.height() + lineGap, textWidth, detailMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter, detailMetrics.elidedText(m_detail, Qt::ElideRight, textWidth));
}

bool ImpulseCard::hitButton(const QPoint &pos) const {
    return cardShape(rect()).contains(QPointF(pos) + QPointF(0.5, 0.5));
}

void ImpulseCard::keyPressEvent(QKeyEvent *event) {
    if (!event->isAutoRepeat() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

} // namespace vibrelle::ui
