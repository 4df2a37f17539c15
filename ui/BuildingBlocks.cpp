#include "ui/BuildingBlocks.h"

#include "core/Types.h"
#include "ui/AccessibleControls.h"
#include "ui/TesterPalette.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPaintEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vibrelle::ui {
namespace {

// The percentage slider is continuous over 0…1; the integer slider underneath has
// this many positions, finer than anything a pointer can resolve.
constexpr int percentageResolution = 10000;

QString wholeNumber(double value) {
    return QString::number(static_cast<qlonglong>(roundHalfAwayFromZero(value)));
}

class PanelFrame final : public QFrame {
    static constexpr int radius = 16;

public:
    explicit PanelFrame(QWidget *parent)
        : QFrame(parent) {}

protected:
    void paintEvent(QPaintEvent *event) override {
        QPainter painter(this);
        // A control that repaints inside the card (a slider, a value text) needs the fill
        // behind it, not the rounded outline stroked anew.
        const QRegion inside = QRegion(rect().adjusted(radius, 2, -radius, -2)) +
                               QRegion(rect().adjusted(2, radius, -2, -radius));
        if ((event->region() - inside).isEmpty()) {
            for (const QRect &area : event->region()) {
                painter.fillRect(area, TesterPalette::panel(palette()));
            }
            return;
        }
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(shape, radius, radius);
        painter.fillPath(path, TesterPalette::panel(palette()));
        painter.setPen(QPen(TesterPalette::withAlpha(TesterPalette::secondary(palette()), 0.13 / 0.6), 1.0));
        painter.drawPath(path);
    }
};

} // namespace

QString percentageText(double value) {
    return wholeNumber(value * 100) + QLatin1Char('%');
}

QString numberText(double value, const QString &unit) {
    return wholeNumber(value) + QLatin1Char(' ') + unit;
}

bool defaultSliderEnabled(const TesterController &controller) {
    return !controller.pendingStop() &&
           (controller.resonanceMode().has_value() || controller.connectionEditable());
}

ValueText::ValueText(const QStringList &widest, QWidget *parent)
    : QLabel(parent)
    , m_widest(widest) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fit();
}

void ValueText::changeEvent(QEvent *event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_shaped.clear();
        fit();
    }
}

void ValueText::paintEvent(QPaintEvent *) {
    auto shaped = m_shaped.find(text());
    if (shaped == m_shaped.end()) {
        if (m_shaped.size() > 256) {
            m_shaped.clear();
        }
        QStaticText laidOut(text());
        laidOut.setTextFormat(Qt::PlainText);
        laidOut.prepare(QTransform(), font());
        shaped = m_shaped.insert(text(), laidOut);
    }
    QPainter painter(this);
    painter.setFont(font());
    const QPalette::ColorGroup group =
        !isEnabled() ? QPalette::Disabled : (isActiveWindow() ? QPalette::Active : QPalette::Inactive);
    painter.setPen(palette().color(group, foregroundRole()));
    const QRect area = contentsRect();
    const QSizeF size = shaped->size();
    painter.drawStaticText(QPointF(area.right() + 1 - size.width(), area.top() + (area.height() - size.height()) / 2),
                           *shaped);
}

void ValueText::fit() {
    // Fixed in both directions: a widget of fixed size never asks its parents for a new layout.
    const QFontMetrics metrics(font());
    int width = 0;
    for (const QString &text : m_widest) {
        width = std::max(width, metrics.horizontalAdvance(text));
    }
    setFixedSize(width + 1, metrics.height());
}

ParameterSlider::ParameterSlider(TesterController *controller, Kind kind, const QString &title,
                                 DoubleGetter get, DoubleSetter set, double minimum, double maximum,
                                 double step, const QString &unit, std::function<bool()> enabled,
                                 QWidget *parent)
    : ParameterSlider(
          controller, kind, title, [controller, get] { return (controller->*get)(); },
          [controller, set](double value) { (controller->*set)(value); }, minimum, maximum, step, unit,
          std::move(enabled), parent) {}

ParameterSlider::ParameterSlider(TesterController *controller, Kind kind, const QString &title,
                                 std::function<double()> get, std::function<void(double)> set, double minimum,
                                 double maximum, double step, const QString &unit,
                                 std::function<bool()> enabled, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_kind(kind)
    , m_get(std::move(get))
    , m_set(std::move(set))
    , m_minimum(minimum)
    , m_maximum(maximum)
    , m_step(step)
    , m_unit(unit)
    , m_enabled(std::move(enabled)) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    auto *titleLabel = new QLabel(title, this);
    setDesignFont(titleLabel, 12);
    m_valueLabel = new ValueText(m_kind == Kind::percentage
                                     ? QStringList{percentageText(0), percentageText(1)}
                                     : QStringList{numberText(m_minimum, m_unit), numberText(m_maximum, m_unit)},
                                 this);
    m_valueLabel->setObjectName(QStringLiteral("value"));
    setDesignFont(m_valueLabel, 12, QFont::DemiBold, Face::monospace);
    setTone(m_valueLabel, Tone::accent);
    header->addWidget(titleLabel);
    header->addStretch(1);
    header->addWidget(m_valueLabel);
    column->addLayout(header);

    // A percentage position is a hundredth of a percent; a number position is one step.
    m_slider = m_kind == Kind::percentage ? new UnitSlider(0, 1, percentageResolution / 100, this)
                                          : new UnitSlider(m_minimum, m_step, 1, this);
    m_slider->setObjectName(QStringLiteral("slider"));
    m_slider->setFocusPolicy(Qt::StrongFocus);
    m_slider->setAccessibleName(title);
    QPalette sliderPalette = m_slider->palette();
    sliderPalette.setColor(QPalette::Highlight, TesterPalette::violet());
    m_slider->setPalette(sliderPalette);
    if (m_kind == Kind::percentage) {
        m_slider->setRange(0, percentageResolution);
        m_slider->setSingleStep(percentageResolution / 100);
        m_slider->setPageStep(percentageResolution / 10);
    } else {
        const int positions =
            m_step > 0 ? static_cast<int>(std::lround((m_maximum - m_minimum) / m_step)) : 0;
        m_slider->setRange(0, std::max(positions, 0));
        m_slider->setSingleStep(1);
        m_slider->setPageStep(std::max(1, positions / 10));
    }
    column->addWidget(m_slider);

    connect(m_slider, &QSlider::valueChanged, this, [this](int position) {
        const double value = valueAt(position);
        if (value != m_get()) {
            m_set(value);
        }
    });
    connect(m_controller, &TesterController::changed, this, &ParameterSlider::refresh);
    refresh();
}

QString ParameterSlider::valueText() const {
    const double value = m_get();
    return m_kind == Kind::percentage ? percentageText(value) : numberText(value, m_unit);
}

void ParameterSlider::refresh() {
    // Every published change reaches every row: a row whose field and enabling are unchanged
    // has nothing to do.
    const double value = m_get();
    const bool enabled =
        m_enabled ? m_enabled() : (m_kind == Kind::percentage ? defaultSliderEnabled(*m_controller) : true);
    if (m_shown && value == m_shown->value && enabled == m_shown->enabled && !m_slider->isSliderDown()) {
        return;
    }
    m_shown = Shown{value, enabled};
    const int position = positionOf(value);
    if (m_slider->value() != position && !m_slider->isSliderDown()) {
        const QSignalBlocker blocker(m_slider);
        m_slider->setValue(position);
    }
    const QString text = valueText();
    if (m_valueLabel->text() != text) {
        m_valueLabel->setText(text);
    }
    m_slider->setShown(m_kind == Kind::percentage ? value * 100 : value, text);
    m_slider->setEnabled(enabled);
}

double ParameterSlider::valueAt(int position) const {
    if (m_kind == Kind::percentage) {
        return double(position) / percentageResolution;
    }
    return std::clamp(m_minimum + position * m_step, m_minimum, m_maximum);
}

int ParameterSlider::positionOf(double value) const {
    if (m_kind == Kind::percentage) {
        return static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * percentageResolution));
    }
    if (m_step <= 0) {
        return 0;
    }
    return static_cast<int>(std::lround((std::clamp(value, m_minimum, m_maximum) - m_minimum) / m_step));
}

ParameterSlider *percentageSlider(TesterController *controller, const QString &title, DoubleGetter get,
                                  DoubleSetter set, std::function<bool()> enabled, QWidget *parent) {
    return new ParameterSlider(controller, ParameterSlider::Kind::percentage, title, get, set, 0.0, 1.0, 0.0,
                               QString(), std::move(enabled), parent);
}

ParameterSlider *numberSlider(TesterController *controller, const QString &title, DoubleGetter get,
                              DoubleSetter set, double minimum, double maximum, double step,
                              const QString &unit, std::function<bool()> enabled, QWidget *parent) {
    return new ParameterSlider(controller, ParameterSlider::Kind::number, title, get, set, minimum, maximum,
                               step, unit, std::move(enabled), parent);
}

QFrame *panel(QWidget *content, QWidget *parent) {
    auto *frame = new PanelFrame(parent);
    frame->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(0);
    if (content) {
        layout->addWidget(content);
    }
    return frame;
}

QLabel *note(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    setDesignFont(label, 11);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    setTone(label, Tone::secondary);
    return label;
}

} // namespace vibrelle::ui
