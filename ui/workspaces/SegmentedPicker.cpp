#include "ui/workspaces/SegmentedPicker.h"

#include "ui/TesterPalette.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace vibrelle::ui {
namespace {

constexpr int segmentHeight = 26;
constexpr int segmentPadding = 14;
constexpr double trackRadius = 7;
constexpr int trackInset = 2;

} // namespace

class PickerSegment final : public TabButton {
public:
    PickerSegment(const QString &text, int index, SegmentedPicker *picker)
        : TabButton(picker)
        , m_picker(picker)
        , m_index(index) {
        setText(text);
        setFocusPolicy(Qt::StrongFocus);
        setDesignFont(this, 12, QFont::Medium);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAttribute(Qt::WA_Hover);
    }

    QSize sizeHint() const override {
        return QSize(fontMetrics().horizontalAdvance(text()) + 2 * segmentPadding,
                     std::max(segmentHeight - 2 * trackInset, fontMetrics().height() + 6));
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        // Disabled, the text keeps full strength: the palette's disabled text, or white on the
        // muted accent of the chosen segment, both at least as legible as the platform's own.
        QColor textColor = palette().color(QPalette::ButtonText);
        if (isChecked()) {
            QPainterPath path;
            path.addRoundedRect(shape, trackRadius - trackInset, trackRadius - trackInset);
            painter.fillPath(path, TesterPalette::withAlpha(TesterPalette::violet(), isEnabled() ? 1 : 0.5));
            textColor = Qt::white;
        } else if (isDown() || (underMouse() && isEnabled())) {
            QPainterPath path;
            path.addRoundedRect(shape, trackRadius - trackInset, trackRadius - trackInset);
            painter.fillPath(path, TesterPalette::withAlpha(TesterPalette::violet(), isDown() ? 0.16 : 0.08));
        }
        if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
            painter.setPen(QPen(isChecked() ? QColor(Qt::white) : TesterPalette::violet(), 1.5));
            painter.drawRoundedRect(shape.adjusted(1.5, 1.5, -1.5, -1.5), trackRadius - 3, trackRadius - 3);
        }
        painter.setPen(textColor);
        painter.drawText(rect(), Qt::AlignCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, width() - segmentPadding));
    }

    void keyPressEvent(QKeyEvent *event) override {
        const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
        switch (event->key()) {
        case Qt::Key_Left:
            m_picker->moveChoice(m_index, rightToLeft ? 1 : -1);
            return;
        case Qt::Key_Right:
            m_picker->moveChoice(m_index, rightToLeft ? -1 : 1);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            click();
            return;
        default:
            TabButton::keyPressEvent(event);
        }
    }

private:
    SegmentedPicker *m_picker;
    int m_index;
};

SegmentedPicker::SegmentedPicker(const QStringList &labels, QWidget *parent)
    : TabList(parent)
    , m_group(new QButtonGroup(this)) {
    m_group->setExclusive(true);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(trackInset, trackInset, trackInset, trackInset);
    row->setSpacing(trackInset);
    for (int i = 0; i < labels.size(); ++i) {
        auto *segment = new PickerSegment(labels.at(i), i, this);
        m_group->addButton(segment, i);
        m_segments.append(segment);
        row->addWidget(segment, 1);
    }
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_group, &QButtonGroup::idClicked, this, [this](int index) {
        if (index != m_current) {
            m_current = index;
            update();
            Q_EMIT activated(index);
        }
    });
    setCurrentIndex(0);
}

int SegmentedPicker::currentIndex() const {
    return m_current;
}

void SegmentedPicker::setCurrentIndex(int index) {
    if (index == m_current || index < 0 || index >= count()) {
        return;
    }
    m_current = index;
    m_segments.at(index)->setChecked(true);
    update();
}

void SegmentedPicker::moveChoice(int from, int step) {
    const int to = from + step;
    if (to < 0 || to >= count()) {
        return;
    }
    QAbstractButton *target = m_segments.at(to);
    target->setFocus(Qt::TabFocusReason);
    target->click();
}

QSize SegmentedPicker::sizeHint() const {
    int width = 0;
    int height = 0;
    for (const auto *segment : m_segments) {
        width = std::max(width, segment->sizeHint().width());
        height = std::max(height, segment->sizeHint().height());
    }
    return QSize(width * count() + trackInset * (count() + 1), height + 2 * trackInset);
}

QSize SegmentedPicker::minimumSizeHint() const {
    return sizeHint();
}

void SegmentedPicker::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) {
        painter.setOpacity(0.5);
    }
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(track, trackRadius, trackRadius);
    painter.fillPath(path, palette().color(QPalette::Button));
    painter.setPen(QPen(TesterPalette::withAlpha(TesterPalette::secondary(palette()), 0.35), 1));
    painter.drawPath(path);

    // Hairlines between two unchosen segments.
    painter.setPen(QPen(TesterPalette::withAlpha(TesterPalette::secondary(palette()), 0.3), 1));
    for (int i = 1; i < count(); ++i) {
        if (i == m_current || i - 1 == m_current) {
            continue;
        }
        const QRect left = m_segments.at(i - 1)->geometry();
        const double x = (left.right() + m_segments.at(i)->geometry().left()) / 2.0 + 0.5;
        painter.drawLine(QPointF(x, track.top() + 6), QPointF(x, track.bottom() - 6));
    }
}

} // namespace vibrelle::ui
