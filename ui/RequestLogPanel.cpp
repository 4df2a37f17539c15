#include "ui/RequestLogPanel.h"

#include "ui/AccessibleControls.h"
#include "ui/TesterPalette.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace vibrelle::ui {
namespace {

QLabel *logLine(QWidget *parent) {
    auto *label = new QLabel(parent);
    label->setFont(monospaceFont(10));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

QString RequestLogPanel::placeholderText() {
    return QStringLiteral("Nessuna richiesta. Il tester non interroga il servizio quando è inattivo.");
}

RequestLogPanel::RequestLogPanel(QWidget *parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("tester.log"));
    setAccessibleName(QStringLiteral("Registro richieste"));

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 12, 24, 12);
    column->setSpacing(8);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    auto *title = new QLabel(QStringLiteral("Richieste · tempo di risposta locale"), this);
    title->setFont(pixelFont(10, QFont::DemiBold));
    auto *limit = new QLabel(QStringLiteral("Ultime 30"), this);
    limit->setFont(pixelFont(10));
    setTone(limit, Tone::tertiary);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(limit);
    column->addLayout(header);

    m_scroll = new ScrollPane(this);
    m_scroll->setObjectName(QStringLiteral("tester.log.lines"));
    m_scroll->setAccessibleName(title->text());
    m_scroll->setFixedHeight(92);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->viewport()->setAutoFillBackground(false);

    auto *content = new QWidget(m_scroll);
    m_lines = new QVBoxLayout(content);
    m_lines->setContentsMargins(0, 0, 0, 0);
    m_lines->setSpacing(7);
    m_placeholder = logLine(content);
    m_placeholder->setObjectName(QStringLiteral("tester.log.placeholder"));
    m_placeholder->setText(placeholderText());
    setTone(m_placeholder, Tone::secondary);
    m_lines->addWidget(m_placeholder);
    m_lines->addStretch(1);
    m_scroll->setWidget(content);
    content->setAutoFillBackground(false); // setWidget() turned it on; the panel's fill shows through
    column->addWidget(m_scroll);
}

void RequestLogPanel::setEntries(const QList<LogEntry> &entries) {
    if (entries == m_shown) {
        return;
    }
    m_shown = entries;
    m_placeholder->setVisible(entries.isEmpty());

    // Lines are kept and reused: the log holds at most 30 entries.
    while (m_entryLabels.size() < entries.size()) {
        auto *label = logLine(m_scroll->widget());
        label->setObjectName(QStringLiteral("tester.log.entry"));
        m_lines->insertWidget(m_lines->count() - 1, label);
        m_entryLabels.append(label);
    }
    for (qsizetype i = 0; i < m_entryLabels.size(); ++i) {
        QLabel *label = m_entryLabels.at(i);
        if (i >= entries.size()) {
            label->hide();
            continue;
        }
        const LogEntry &entry = entries.at(i);
        label->setText(entry.text);
        label->setProperty("failed", entry.failed);
        setTone(label, entry.failed ? Tone::failure : Tone::secondary);
        label->show();
    }
}

void RequestLogPanel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), TesterPalette::withAlpha(palette().color(QPalette::Base), 0.65));
    painter.setPen(TesterPalette::withAlpha(palette().color(QPalette::WindowText), 0.12));
    painter.drawLine(0, 0, width(), 0);
}

} // namespace vibrelle::ui
