#include "ui/workspaces/Disclosure.h"

#include "ui/TesterPalette.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace vibrelle::ui {
namespace {

constexpr int arrowBox = 12;
constexpr int arrowGap = 6;

class DisclosureToggle final : public QAbstractButton {
public:
    DisclosureToggle(const QString &title, QWidget *parent)
        : QAbstractButton(parent) {
        setText(title);
        setCheckable(true);
        setFocusPolicy(Qt::StrongFocus);
        setDesignFont(this, 12, QFont::Medium);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override {
        return QSize(arrowBox + arrowGap + fontMetrics().horizontalAdvance(text()) + 4,
                     std::max(arrowBox, fontMetrics().height()) + 6);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF centre(arrowBox / 2.0, height() / 2.0);
        QPainterPath arrow;
        if (isChecked()) {
            arrow.moveTo(centre + QPointF(-4, -2));
            arrow.lineTo(centre + QPointF(4, -2));
            arrow.lineTo(centre + QPointF(0, 3));
        } else {
            arrow.moveTo(centre + QPointF(-2, -4));
            arrow.lineTo(centre + QPointF(3, 0));
            arrow.lineTo(centre + QPointF(-2, 4));
        }
        arrow.closeSubpath();
        painter.fillPath(arrow, TesterPalette::secondary(palette()));

        painter.setPen(palette().color(QPalette::WindowText));
        const QRect textRect(arrowBox + arrowGap, 0, width() - arrowBox - arrowGap, height());
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text());
        if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
            painter.setPen(QPen(TesterPalette::withAlpha(TesterPalette::violet(), 0.6), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
        }
    }

    void keyPressEvent(QKeyEvent *event) override {
        if (!event->isAutoRepeat() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
            click();
            return;
        }
        QAbstractButton::keyPressEvent(event);
    }
};

} // namespace

Disclosure::Disclosure(const QString &title, QWidget *content, int spacing, QWidget *parent)
    : QWidget(parent)
    , m_toggle(new DisclosureToggle(title, this))
    , m_body(new QWidget(this)) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    m_toggle->setAccessibleName(title);
    stack->addWidget(m_toggle, 0, Qt::AlignLeft);

    auto *bodyLayout = new QVBoxLayout(m_body);
    bodyLayout->setContentsMargins(0, spacing, 0, 0);
    bodyLayout->addWidget(content);
    m_body->setVisible(false);
    stack->addWidget(m_body);

    connect(m_toggle, &QAbstractButton::toggled, m_body, &QWidget::setVisible);
}

} // namespace vibrelle::ui
