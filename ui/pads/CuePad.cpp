#include "ui/pads/CuePad.h"

#include "ui/AccessibleControls.h"
#include "ui/TesterPalette.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace vibrelle::ui {
namespace {

const QColor feltColor = QColor::fromRgbF(0.065f, 0.24f, 0.23f);
const QColor cueColor = QColor::fromRgbF(0.81f, 0.64f, 0.4f);
const QColor tipColor = QColor::fromRgbF(0.59f, 0.79f, 0.79f);

constexpr int hintSize = 11;
constexpr double keyPullStep = 10;
constexpr double keyPullLongStep = 40;

const QString keyHelp =
    QStringLiteral("Da tastiera: Freccia sinistra tira la stecca di 10 punti (40 con Maiusc), Freccia "
                   "destra la allenta; Spazio o Invio tira il colpo, Esc lo annulla.");
constexpr double ballShadowBlur = 4;
const QPointF ballShadowOffset(2, 4);

QColor white(double alpha) {
    return QColor::fromRgbF(1, 1, 1, static_cast<float>(alpha));
}

QColor black(double alpha) {
    return QColor::fromRgbF(0, 0, 0, static_cast<float>(alpha));
}

QPainterPath roundedRect(const QRectF &rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void fillCapsule(QPainter &painter, const QRectF &rect, const QColor &color) {
    const double radius = std::min(rect.width(), rect.height()) / 2;
    painter.fillPath(roundedRect(rect, radius), color);
}

// A soft shadow under the ball: a radial fade standing in for a Gaussian blur.
void paintBallShadow(QPainter &painter, QPointF ballCenter) {
    const double radius = CuePadGeometry::ballDiameter / 2;
    const QPointF centre = ballCenter + ballShadowOffset;
    const double outer = radius + ballShadowBlur;
    QRadialGradient gradient(centre, outer);
    gradient.setColorAt(0, black(0.3));
    gradient.setColorAt((radius - ballShadowBlur) / outer, black(0.3));
    gradient.setColorAt(radius / outer, black(0.15));
    gradient.setColorAt(1, black(0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawEllipse(centre, outer, outer);
}

} // namespace

CuePad::CuePad(TesterController *controller, ViewState *viewState, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_viewState(viewState) {
    installAccessibleControls();
    setFocusPolicy(Qt::StrongFocus);
    setToolTip(keyHelp);
    setAccessibleName(QStringLiteral(
        "Stecca da biliardo. Premi e trascina verso sinistra per caricare, rilascia per tirare."));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(static_cast<int>(CuePadGeometry::height));
    // Moves without a button tell us about a release we never saw.
    setMouseTracking(true);
    connect(controller, &TesterController::changed, this, &CuePad::refresh);
    m_charge = -1; // forces the first refresh to take the controller's state
    refresh();
}

QString CuePad::hintText() const {
    return cuePadHint(m_cueDragging, m_controlledPaused);
}

void CuePad::refresh() {
    if (!m_controller) {
        return;
    }
    const bool dragging = m_controller->cueDragging();
    const bool paused = m_controller->controlledPaused();
    const double charge = m_controller->cueCharge();
    if (dragging == m_cueDragging && paused == m_controlledPaused && charge == m_charge) {
        return;
    }
    m_cueDragging = dragging;
    m_controlledPaused = paused;
    m_charge = charge;
    setAccessibleDescription(hintText() + QStringLiteral(". Carica ") +
                             QString::number(std::lround(std::clamp(charge, 0.0, 1.0) * 100)) +
                             QStringLiteral("%. ") + keyHelp);
    update();
}

QSize CuePad::sizeHint() const {
    return QSize(520, static_cast<int>(CuePadGeometry::height));
}

QSize CuePad::minimumSizeHint() const {
    // Room for the longest hint and for the aim line right of the ball.
    const QFontMetrics metrics(designFont(hintSize, QFont::Medium));
    const int hint = std::max({metrics.horizontalAdvance(cuePadHint(false, false)),
                               metrics.horizontalAdvance(cuePadHint(true, false)),
                               metrics.horizontalAdvance(cuePadHint(true, true))});
    return QSize(std::max(300, hint + 48), static_cast<int>(CuePadGeometry::height));
}

void CuePad::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const CuePadGeometry g = geometry();
    painter.setClipPath(roundedRect(g.bounds, CuePadGeometry::cornerRadius));

    painter.fillPath(roundedRect(g.bounds, CuePadGeometry::cornerRadius), feltColor);
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(QPen(TesterPalette::violet(), 3));
        painter.drawPath(
            roundedRect(g.bounds.adjusted(1.5, 1.5, -1.5, -1.5), CuePadGeometry::cornerRadius - 1));
    }

    painter.setPen(QPen(white(0.11), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(roundedRect(g.rail, CuePadGeometry::railCornerRadius));

    painter.setPen(Qt::NoPen);
    painter.setBrush(black(0.32));
    const double sightRadius = CuePadGeometry::sightDiameter / 2;
    for (const QPointF &sight : g.sights) {
        painter.drawEllipse(sight, sightRadius, sightRadius);
    }

    QPen aim(white(0.25), 1);
    aim.setDashPattern({3, 6}); // in units of the pen width, which is 1
    aim.setCapStyle(Qt::FlatCap);
    painter.setPen(aim);
    painter.drawLine(g.aimLine);

    fillCapsule(painter, g.cueShadow, black(0.16));
    fillCapsule(painter, g.cue, cueColor);
    fillCapsule(painter, g.tip, tipColor);

    paintBallShadow(painter, g.ballCenter);
    painter.setBrush(Qt::white);
    const double ballRadius = CuePadGeometry::ballDiameter / 2;
    painter.drawEllipse(g.ballCenter, ballRadius, ballRadius);

    const QFont hintFont = designFont(hintSize, QFont::Medium);
    const QFontMetricsF metrics(hintFont);
    const QString hint = hintText();
    const double hintWidth = metrics.horizontalAdvance(hint);
    painter.setFont(hintFont);
    painter.setPen(white(0.8));
    painter.drawText(QRectF(g.hintCenter.x() - hintWidth / 2 - 1, g.hintCenter.y() - metrics.height() / 2,
                            hintWidth + 2, metrics.height()),
                     Qt::AlignCenter, hint);
}

void CuePad::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton ||
        !roundedRect(rect(), CuePadGeometry::cornerRadius).contains(event->position())) {
        event->ignore();
        return;
    }
    if (m_pressed) {
        // The release of the previous drag never reached us.
        endDrag();
    }
    if (m_keyPull) {
        // The pointer takes the cue over from the keys.
        m_keyPull = false;
        if (m_viewState) {
            m_viewState->setCueInteractionActive(false);
        }
    }
    m_pressed = true;
    m_pressX = event->position().x();
    // The drag is live from the first contact: the press is its first movement.
    reportPull(0);
}

void CuePad::mouseMoveEvent(QMouseEvent *event) {
    if (!m_pressed) {
        event->ignore();
        return;
    }
    if (!(event->buttons() & Qt::LeftButton)) {
        endDrag();
        return;
    }
    reportPull(m_pressX - event->position().x());
}

void CuePad::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && m_pressed) {
        endDrag();
    }
}

void CuePad::hideEvent(QHideEvent *event) {
    if (isHeld()) {
        endDrag();
    }
    QWidget::hideEvent(event);
}

void CuePad::keyPressEvent(QKeyEvent *event) {
    const double step = event->modifiers().testFlag(Qt::ShiftModifier) ? keyPullLongStep : keyPullStep;
    switch (event->key()) {
    case Qt::Key_Left:
        pullWithKeys(step);
        return;
    case Qt::Key_Right:
        pullWithKeys(-step);
        return;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_keyPull && !event->isAutoRepeat()) {
            endDrag();
        }
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void CuePad::pullWithKeys(double points) {
    if (m_pressed || !m_controller || !m_viewState) {
        return; // the pointer holds the cue
    }
    // A pull whose cue drag has ended (Esc, a failure, the controls were busy when it began)
    // starts again from rest.
    if (!m_keyPull || !m_controller->cueDragging()) {
        if (points < 0) {
            return;
        }
        m_keyPull = true;
        m_keyPullPoints = 0;
        m_viewState->setCueInteractionActive(false); // the next report begins a cue drag
    }
    // Beyond full charge a further pull changes nothing: the cue rests there.
    if (points > 0 && m_controller->cueCharge() >= 1) {
        return;
    }
    m_keyPullPoints = std::max(0.0, m_keyPullPoints + points);
    reportPull(m_keyPullPoints);
}

void CuePad::focusOutEvent(QFocusEvent *event) {
    // Moving the focus away from a pull cancels the shot. When the window loses the foreground,
    // the window itself stops the effect.
    if (m_keyPull && event->reason() != Qt::ActiveWindowFocusReason) {
        m_keyPull = false;
        if (m_viewState) {
            m_viewState->setCueInteractionActive(false);
        }
        if (m_controller && m_controller->cueDragging()) {
            m_controller->stop();
        }
    }
    QWidget::focusOutEvent(event);
}

void CuePad::tap() {
    if (!isHeld()) {
        m_pressed = true;
        reportPull(0);
        endDrag();
    }
}

void CuePad::reportPull(double pull) {
    if (!m_controller || !m_viewState) {
        return;
    }
    // Once per drag; again after the window has cleared the flag (loss of the foreground),
    // when the controller decides whether a new cue drag can begin.
    if (!m_viewState->cueInteractionActive()) {
        m_viewState->setCueInteractionActive(true);
        m_controller->beginCueDrag();
    }
    m_controller->updateCueDrag(pull);
}

void CuePad::endDrag() {
    m_pressed = false;
    m_keyPull = false;
    if (m_viewState) {
        m_viewState->setCueInteractionActive(false);
    }
    if (m_controller) {
        m_controller->endCueDrag();
    }
}

} // namespace vibrelle::ui
