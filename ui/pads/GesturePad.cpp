#include "ui/pads/GesturePad.h"

#include "ui/AccessibleControls.h"
#include "ui/Glyphs.h"
#include "ui/TesterPalette.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace vibrelle::ui {
namespace {

constexpr int titleSize = 13;
constexpr int subtitleSize = 10;
constexpr int lineGap = 5;

const QString keyHelp = QStringLiteral("Da tastiera: tieni premuto Spazio per appoggiare il dito, "
                                       "rilascialo per sollevarlo.");

QPainterPath padShape(const QRectF &bounds) {
    QPainterPath path;
    path.addRoundedRect(bounds, GesturePad::cornerRadius, GesturePad::cornerRadius);
    return path;
}

} // namespace

GesturePadTexts gesturePadTexts(bool continuousGesture, bool gestureWanted) {
    if (continuousGesture) {
        return {QStringLiteral("Gesto continuo attivo"),
                QStringLiteral("Muovi il dito e modifica i cursori.")};
    }
    const QString subtitle = QStringLiteral("Il movimento del trackpad guida la risonanza.");
    if (gestureWanted) {
        return {QStringLiteral("Trascina \u00b7 rilascia per fermare"), subtitle};
    }
    return {QStringLiteral("Premi e trascina qui"), subtitle};
}

GesturePad::GesturePad(TesterController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller) {
    installAccessibleControls();
    setFocusPolicy(Qt::StrongFocus);
    setToolTip(keyHelp);
    setAccessibleName(
        QStringLiteral("Zona di prova Risonanza. Premi e trascina sul trackpad, poi rilascia."));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Moves without a button tell us about a release we never saw.
    setMouseTracking(true);
    connect(controller, &TesterController::changed, this, &GesturePad::refresh);
    m_gestureWanted = !controller->gestureWanted();
    refresh();
}

GesturePadTexts GesturePad::texts() const {
    return gesturePadTexts(m_continuousGesture, m_gestureWanted);
}

double GesturePad::fillOpacity() const {
    return m_gestureWanted ? 0.14 : 0.055;
}

void GesturePad::refresh() {
    if (!m_controller) {
        return;
    }
    const bool wanted = m_controller->gestureWanted();
    const bool continuous = m_controller->continuousGesture();
    if (wanted == m_gestureWanted && continuous == m_continuousGesture) {
        return;
    }
    m_gestureWanted = wanted;
    m_continuousGesture = continuous;
    const GesturePadTexts now = texts();
    setAccessibleDescription(now.title + QStringLiteral(". ") + now.subtitle + QLatin1Char(' ') + keyHelp);
    update();
}

QSize GesturePad::contentSize() const {
    const QFontMetrics title(designFont(titleSize, QFont::DemiBold));
    const QFontMetrics subtitle(designFont(subtitleSize));
    int textWidth = 0;
    for (const auto &[continuous, wanted] : {std::pair{false, false}, {false, true}, {true, true}}) {
        const GesturePadTexts t = gesturePadTexts(continuous, wanted);
        textWidth =
            std::max({textWidth, title.horizontalAdvance(t.title), subtitle.horizontalAdvance(t.subtitle)});
    }
    const int textHeight = title.height() + lineGap + subtitle.height();
    return QSize(glyphSide + glyphGap + textWidth + 2, std::max(glyphSide, textHeight));
}

QSize GesturePad::sizeHint() const {
    const QSize content = contentSize();
    return QSize(content.width() + 2 * contentMargin,
                 std::max(padHeight, content.height() + 2 * contentMargin));
}

QSize GesturePad::minimumSizeHint() const {
    return sizeHint();
}

void GesturePad::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor violet = TesterPalette::violet();

    const QRectF bounds = rect();
    painter.fillPath(padShape(bounds), TesterPalette::withAlpha(violet, fillOpacity()));
    // An inner border: the stroke lies wholly inside the shape; stronger with the keyboard focus.
    const bool keyboardFocus = hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange);
    painter.setPen(QPen(TesterPalette::withAlpha(violet, keyboardFocus ? 0.9 : 0.35), keyboardFocus ? 2 : 1));
    painter.drawPath(padShape(bounds.adjusted(keyboardFocus ? 1 : 0.5, keyboardFocus ? 1 : 0.5,
                                              keyboardFocus ? -1 : -0.5, keyboardFocus ? -1 : -0.5)));

    const GesturePadTexts now = texts();
    const QFont titleFont = designFont(titleSize, QFont::DemiBold);
    const QFont subtitleFont = designFont(subtitleSize);
    const QFontMetrics title(titleFont);
    const QFontMetrics subtitle(subtitleFont);
    const QRect area = rect().adjusted(contentMargin, contentMargin, -contentMargin, -contentMargin);
    const int available = std::max(0, area.width() - glyphSide - glyphGap);
    // Advances are rounded; a pixel or two of slack keeps a text that fits from being elided.
    const int textWidth =
        std::min(available,
                 std::max(title.horizontalAdvance(now.title), subtitle.horizontalAdvance(now.subtitle)) + 2);
    const int textHeight = title.height() + lineGap + subtitle.height();
    const int contentWidth = glyphSide + glyphGap + textWidth;
    const int left = area.left() + std::max(0, (area.width() - contentWidth) / 2);
    const int centreY = area.center().y();

    paintGlyph(painter, QRectF(left, centreY - glyphSide / 2.0, glyphSide, glyphSide),
               QStringLiteral("hand.draw"), violet);

    const int textLeft = left + glyphSide + glyphGap;
    const int textTop = centreY - textHeight / 2;
    painter.setFont(titleFont);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(textLeft, textTop, textWidth, title.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     title.elidedText(now.title, Qt::ElideRight, textWidth));
    painter.setFont(subtitleFont);
    painter.setPen(TesterPalette::secondary(palette()));
    painter.drawText(QRect(textLeft, textTop + title.height() + lineGap, textWidth, subtitle.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     subtitle.elidedText(now.subtitle, Qt::ElideRight, textWidth));
}

void GesturePad::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || !padShape(rect()).contains(event->position())) {
        event->ignore();
        return;
    }
    press();
}

void GesturePad::mouseMoveEvent(QMouseEvent *event) {
    if (!m_pressed) {
        event->ignore();
        return;
    }
    if (!(event->buttons() & Qt::LeftButton)) {
        endDrag();
        return;
    }
    reportMovement();
}

void GesturePad::keyPressEvent(QKeyEvent *event) {
    if (event->key() != Qt::Key_Space) {
        QWidget::keyPressEvent(event);
        return;
    }
    // The key's auto-repeat stands for the finger's movement.
    if (!event->isAutoRepeat() && !m_pressed) {
        m_keyHeld = true;
        press();
    } else if (m_keyHeld) {
        reportMovement();
    }
}

void GesturePad::keyReleaseEvent(QKeyEvent *event) {
    if (event->key() != Qt::Key_Space) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    if (!event->isAutoRepeat() && m_keyHeld) {
        endDrag();
    }
}

void GesturePad::focusOutEvent(QFocusEvent *event) {
    // A key held on the pad cannot be released where the pad no longer hears it.
    if (m_keyHeld) {
        endDrag();
    }
    QWidget::focusOutEvent(event);
}

void GesturePad::tap() {
    if (!m_pressed) {
        press();
        endDrag();
    }
}

void GesturePad::press() {
    m_pressed = true;
    if (m_controller) {
        m_controller->beginGesture(false);
    }
}

void GesturePad::reportMovement() {
    // The controller ignores the call while a gesture is already wanted; while controls
    // are disabled, a later movement of the same drag starts the gesture.
    if (m_controller) {
        m_controller->beginGesture(false);
    }
}

void GesturePad::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && m_pressed) {
        endDrag();
    }
}

void GesturePad::hideEvent(QHideEvent *event) {
    if (m_pressed) {
        endDrag();
    }
    QWidget::hideEvent(event);
}

void GesturePad::changeEvent(QEvent *event) {
    // Losing the window's activation loses the pointer: the drag is over.
    if (event->type() == QEvent::ActivationChange && m_pressed && !isActiveWindow()) {
        endDrag();
    }
    QWidget::changeEvent(event);
}

void GesturePad::endDrag() {
    m_pressed = false;
    m_keyHeld = false;
    if (m_controller) {
        m_controller->endGesturePadDrag();
    }
}

} // namespace vibrelle::ui
