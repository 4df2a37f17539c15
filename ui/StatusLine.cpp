#include "ui/StatusLine.h"

#include "ui/TesterPalette.h"

#include <QEvent>
#include <QFontMetrics>
#include <QTextLayout>

namespace vibrelle::ui {

StatusLine::StatusLine(QWidget *parent)
    : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setDesignFont(this, 11);
    setTone(this, Tone::secondary);
    setWordWrap(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFocusPolicy(Qt::ClickFocus);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QString StatusLine::fitToTwoLines(const QString &text, const QFont &font, int width) {
    QString laidOut = text;
    laidOut.replace(u'\n', QChar::LineSeparator);
    QTextLayout layout(laidOut, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QList<QTextLine> lines;
    for (QTextLine line = layout.createLine(); line.isValid() && lines.size() < 3;
         line = layout.createLine()) {
        line.setLineWidth(width);
        lines << line;
    }
    layout.endLayout();
    if (lines.size() <= 2)
        return text;
    const QString first = laidOut.mid(lines[0].textStart(), lines[0].textLength()).trimmed();
    const QString rest = laidOut.mid(lines[1].textStart()).replace(QChar::LineSeparator, u' ').trimmed();
    return first + u'\n' + QFontMetrics(font).elidedText(rest + QChar(0x2026), Qt::ElideRight, width);
}

void StatusLine::setStatus(const QString &status) {
    m_status = status;
    refit();
    // The name change reaches screen readers over the accessibility bus even while the line has
    // no focus; setting the name explicitly sends exactly one such event.
    setAccessibleName(status);
}

void StatusLine::refit() {
    const QString shown = fitToTwoLines(m_status, font(), contentsRect().width());
    setText(shown);
    setToolTip(shown == m_status ? QString() : m_status);
}

void StatusLine::resizeEvent(QResizeEvent *event) {
    QLabel::resizeEvent(event);
    refit();
}

void StatusLine::changeEvent(QEvent *event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        refit();
}

StatusSlot::StatusSlot(StatusLine *line, QWidget *parent)
    : QWidget(parent)
    , m_line(line) {
    line->setParent(this);
    setSizePolicy(line->sizePolicy());
}

QSize StatusSlot::sizeHint() const {
    return m_line->sizeHint().boundedTo(m_line->maximumSize());
}

QSize StatusSlot::minimumSizeHint() const {
    return m_line->minimumSizeHint().boundedTo(m_line->maximumSize());
}

bool StatusSlot::hasHeightForWidth() const {
    return m_line->hasHeightForWidth();
}

int StatusSlot::heightForWidth(int width) const {
    return std::min(m_line->heightForWidth(width), m_line->maximumHeight());
}

StatusSlot::Sizes StatusSlot::sizes() const {
    return {sizeHint(), minimumSizeHint(), m_line->maximumSize(), heightForWidth(width())};
}

bool StatusSlot::event(QEvent *event) {
    if (event->type() == QEvent::LayoutRequest) {
        // The line's text, font or limits changed: the window lays itself out again only when
        // that changes the line's size.
        const Sizes now = sizes();
        if (now != m_known) {
            m_known = now;
            updateGeometry();
        }
        m_line->setGeometry(rect());
        return true;
    }
    if (event->type() == QEvent::Show) {
        m_known = sizes(); // whatever changed while hidden, the layout takes it with the show
        updateGeometry();
    }
    return QWidget::event(event);
}

void StatusSlot::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    m_line->setGeometry(rect()); // a new width may wrap the line anew: its LayoutRequest tells
}

} // namespace vibrelle::ui
