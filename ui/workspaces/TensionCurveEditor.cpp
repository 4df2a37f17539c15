#include "ui/workspaces/TensionCurveEditor.h"

#include "core/Types.h"
#include "ui/BuildingBlocks.h"
#include "ui/workspaces/WorkspaceKit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vibrelle::ui {

// A slider row like the parameter rows, bound to one field of the controller's tension
// curve rather than to a controller property.
class CurveSliderRow final : public QWidget {
public:
    enum class Kind { percentage, number };

    CurveSliderRow(TesterController *controller, Kind kind, const QString &title, double TensionCurve::*field,
                   double minimum, double maximum, double step, const QString &unit,
                   QWidget *parent = nullptr)
        : QWidget(parent)
        , m_controller(controller)
        , m_kind(kind)
        , m_field(field)
        , m_minimum(minimum)
        , m_maximum(maximum)
        , m_step(step)
        , m_unit(unit) {
        auto *column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(6);
        auto *header = new QHBoxLayout;
        header->setSpacing(8);
        header->addWidget(textLabel(title, 12));
        header->addStretch(1);
        m_value = new QLabel(this);
        m_value->setObjectName(QStringLiteral("value"));
        m_value->setFont(monospaceFont(12, QFont::DemiBold));
        setTone(m_value, Tone::accent);
        header->addWidget(m_value);
        column->addLayout(header);

        m_slider = new QSlider(Qt::Horizontal, this);
        m_slider->setObjectName(QStringLiteral("slider"));
        m_slider->setAccessibleName(title);
        useAccentHighlight(m_slider);
        m_slider->setRange(0, positions());
        m_slider->setPageStep(std::max(1, positions() / 10));
        column->addWidget(m_slider);
        connect(m_slider, &QSlider::valueChanged, this, [this](int position) {
            if (!m_controller) {
                return;
            }
            TensionCurve curve = m_controller->tensionCurve();
            const double value = valueAt(position);
            if (curve.*m_field != value) {
                curve.*m_field = value;
                m_controller->setTensionCurve(curve);
            }
        });
        refresh();
    }

    QSlider *slider() const { return m_slider; }
    QString valueText() const { return m_value->text(); }

    void refresh() {
        if (!m_controller) {
            return;
        }
        const double value = m_controller->tensionCurve().*m_field;
        const int position = positionOf(value);
        if (m_slider->value() != position && !m_slider->isSliderDown()) {
            const QSignalBlocker blocker(m_slider);
            m_slider->setValue(position);
        }
        const QString text = m_kind == Kind::percentage ? percentageText(value) : numberText(value, m_unit);
        if (m_value->text() != text) {
            m_value->setText(text);
            m_slider->setAccessibleDescription(text);
        }
    }

private:
    // Percentage rows are continuous; this many positions is finer than a pointer resolves.
    static constexpr int percentageResolution = 10000;

    int positions() const {
        return m_kind == Kind::percentage ? percentageResolution
                                          : static_cast<int>(std::lround((m_maximum - m_minimum) / m_step));
    }
    double valueAt(int position) const {
        if (m_kind == Kind::percentage) {
            return double(position) / percentageResolution;
        }
        return std::clamp(m_minimum + position * m_step, m_minimum, m_maximum);
    }
    int positionOf(double value) const {
        if (!std::isfinite(value)) {
            return 0;
        }
        if (m_kind == Kind::percentage) {
            return static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * percentageResolution));
        }
        return static_cast<int>(std::lround((std::clamp(value, m_minimum, m_maximum) - m_minimum) / m_step));
    }

    QPointer<TesterController> m_controller;
    Kind m_kind;
    double TensionCurve::*m_field;
    double m_minimum;
    double m_maximum;
    double m_step;
    QString m_unit;
    QLabel *m_value = nullptr;
    QSlider *m_slider = nullptr;
};

namespace {

// The exponent slider moves in steps of 0.05 from 0.25 to 4, held as whole hundredths so
// that every position maps to the nearest double of its decimal value (1.7, not 1.7000…2).
constexpr int exponentMinimumHundredths = 25;
constexpr int exponentMaximumHundredths = 400;
constexpr int exponentStepHundredths = 5;

double exponentAt(int position) {
    return (exponentMinimumHundredths + exponentStepHundredths * position) / 100.0;
}

int exponentPosition(double exponent) {
    if (!std::isfinite(exponent)) {
        exponent = 1;
    }
    const double hundredths =
        std::clamp(exponent * 100, double(exponentMinimumHundredths), double(exponentMaximumHundredths));
    return static_cast<int>(std::lround((hundredths - exponentMinimumHundredths) / exponentStepHundredths));
}

} // namespace

TensionCurveEditor::TensionCurveEditor(TesterController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(18);

    auto *exponentGroup = new QVBoxLayout;
    exponentGroup->setSpacing(6);
    auto *exponentHeader = new QHBoxLayout;
    exponentHeader->addWidget(textLabel(QStringLiteral("Esponente"), 12));
    exponentHeader->addStretch(1);
    m_exponentValue = new QLabel(this);
    m_exponentValue->setObjectName(QStringLiteral("tester.billiards.exponent.value"));
    m_exponentValue->setFont(monospaceFont(12, QFont::DemiBold));
    setTone(m_exponentValue, Tone::accent);
    exponentHeader->addWidget(m_exponentValue);
    exponentGroup->addLayout(exponentHeader);
    m_exponent = new QSlider(Qt::Horizontal, this);
    m_exponent->setObjectName(QStringLiteral("tester.billiards.exponent"));
    m_exponent->setAccessibleName(QStringLiteral("Esponente della curva"));
    useAccentHighlight(m_exponent);
    m_exponent->setRange(0, (exponentMaximumHundredths - exponentMinimumHundredths) / exponentStepHundredths);
    m_exponent->setPageStep(5);
    connect(m_exponent, &QSlider::valueChanged, this, [this](int position) {
        if (!m_controller) {
            return;
        }
        TensionCurve curve = m_controller->tensionCurve();
        const double value = exponentAt(position);
        if (curve.exponent != value) {
            curve.exponent = value;
            m_controller->setTensionCurve(curve);
        }
    });
    exponentGroup->addWidget(m_exponent);
    stack->addLayout(exponentGroup);

    auto *columns = new QHBoxLayout;
    columns->setSpacing(22);
    columns->addWidget(column(QStringLiteral("INIZIO"), QStringLiteral("tester.billiards.curve.low"),
                              &TensionCurve::lowIntensity, &TensionCurve::lowCadence,
                              &TensionCurve::lowSharpness),
                       1, Qt::AlignTop);
    columns->addWidget(hairline(Qt::Vertical, this));
    columns->addWidget(column(QStringLiteral("FINE"), QStringLiteral("tester.billiards.curve.high"),
                              &TensionCurve::highIntensity, &TensionCurve::highCadence,
                              &TensionCurve::highSharpness),
                       1, Qt::AlignTop);
    stack->addLayout(columns);

    connect(controller, &TesterController::changed, this, &TensionCurveEditor::refresh);
    refresh();
}

QWidget *TensionCurveEditor::column(const QString &heading, const QString &namePrefix,
                                    double TensionCurve::*intensity, double TensionCurve::*cadence,
                                    double TensionCurve::*sharpness) {
    auto *widget = new QWidget(this);
    auto *stack = new QVBoxLayout(widget);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(16);
    stack->addWidget(smallHeading(heading, widget));
    const struct {
        const char *suffix;
        CurveSliderRow *row;
    } rows[] = {
        {".intensity",
         new CurveSliderRow(m_controller, CurveSliderRow::Kind::percentage, QStringLiteral("Intensità"),
                            intensity, 0, 1, 0, QString(), widget)},
        {".cadence", new CurveSliderRow(m_controller, CurveSliderRow::Kind::number, QStringLiteral("Cadenza"),
                                        cadence, 1, 60, 1, QStringLiteral("imp/s"), widget)},
        {".sharpness",
         new CurveSliderRow(m_controller, CurveSliderRow::Kind::percentage, QStringLiteral("Nitidezza"),
                            sharpness, 0, 1, 0, QString(), widget)},
    };
    for (const auto &entry : rows) {
        entry.row->setObjectName(namePrefix + QLatin1String(entry.suffix));
        stack->addWidget(entry.row);
        m_rows.append(entry.row);
    }
    return widget;
}

QString TensionCurveEditor::exponentText(double exponent) {
    return QLocale().toString(exponent, 'f', 2);
}

void TensionCurveEditor::refresh() {
    if (!m_controller) {
        return;
    }
    const double exponent = m_controller->tensionCurve().exponent;
    const int position = exponentPosition(exponent);
    if (m_exponent->value() != position && !m_exponent->isSliderDown()) {
        const QSignalBlocker blocker(m_exponent);
        m_exponent->setValue(position);
    }
    const QString text = exponentText(exponent);
    if (m_exponentValue->text() != text) {
        m_exponentValue->setText(text);
        m_exponent->setAccessibleDescription(text);
    }
    for (CurveSliderRow *row : m_rows) {
        row->refresh();
    }
}

} // namespace vibrelle::ui
