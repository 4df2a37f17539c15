#include "ui/RequestLogPanel.h"

#include "api/CurlCommand.h"
#include "ui/TesterPalette.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QVBoxLayout>

namespace vibrelle::ui {
namespace {

// One line of the log. Tab reaches it; its context menu (right click, the Menu key or
// Shift+F10) copies the line, or the request behind it as a curl command.
class LogLine final : public QLabel {
public:
    explicit LogLine(QWidget *parent)
        : QLabel(parent) {
        setDesignFont(this, 10, QFont::Normal, Face::monospace);
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
        setTextInteractionFlags(Qt::TextSelectableByMouse);
        setFocusPolicy(Qt::StrongFocus);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    void display(const LogEntry &entry) {
        m_entry = entry;
        setText(entry.text);
        setAccessibleName(entry.text);
        setAccessibleDescription(entry.failed ? QStringLiteral("Non riuscita") : QString());
        setTone(this, entry.failed ? Tone::failure : Tone::secondary);
    }

protected:
    void contextMenuEvent(QContextMenuEvent *event) override {
        openMenu(event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                             : mapToGlobal(QPoint(0, height())));
    }

    void keyPressEvent(QKeyEvent *event) override {
        if (event->key() == Qt::Key_Menu ||
            (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
            openMenu(mapToGlobal(QPoint(0, height())));
            return;
        }
        QLabel::keyPressEvent(event);
    }

    void paintEvent(QPaintEvent *event) override {
        QLabel::paintEvent(event);
        if (hasFocus()) {
            QStylePainter painter(this);
            QStyleOptionFocusRect option;
            option.initFrom(this);
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
        }
    }

private:
    // The menu acts on the entry shown when it opened, whatever the log does meanwhile.
    void openMenu(const QPoint &at) {
        if (QApplication::activePopupWidget()) {
            return; // the platform's own context menu event for the same key press
        }
        auto *menu = new QMenu(this);
        menu->setObjectName(QStringLiteral("tester.log.menu"));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        if (const auto command = m_entry.request ? curlCommand(*m_entry.request) : std::nullopt) {
            menu->addAction(QStringLiteral("Copia come comando curl"), this,
                            [command = *command] { QGuiApplication::clipboard()->setText(command); });
        }
        menu->addAction(QStringLiteral("Copia riga"), this,
                        [text = m_entry.text] { QGuiApplication::clipboard()->setText(text); });
        menu->popup(at);
    }

    LogEntry m_entry;
};

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
    setDesignFont(title, 10, QFont::DemiBold);
    auto *limit = new QLabel(QStringLiteral("Ultime 30"), this);
    setDesignFont(limit, 10);
    setTone(limit, Tone::tertiary);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(limit);
    column->addLayout(header);

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("tester.log.lines"));
    m_scroll->setAccessibleName(title->text());
    m_scroll->setFocusPolicy(Qt::NoFocus); // the lines are the stops; the area scrolls to each
    m_scroll->setFixedHeight(textLength(92));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->viewport()->setAutoFillBackground(false);

    auto *content = new QWidget(m_scroll);
    m_lines = new QVBoxLayout(content);
    m_lines->setContentsMargins(0, 0, 0, 0);
    m_lines->setSpacing(7);
    m_placeholder = new LogLine(content);
    m_placeholder->setFocusPolicy(Qt::NoFocus);
    m_placeholder->setContextMenuPolicy(Qt::NoContextMenu);
    m_placeholder->setObjectName(QStringLiteral("tester.log.placeholder"));
    m_placeholder->setText(placeholderText());
    setTone(m_placeholder, Tone::secondary);
    m_lines->addWidget(m_placeholder);
    m_lines->addStretch(1);
    // The first line is made with the panel, so that the lines take their place in the Tab order
    // where the log is read, before the footer: each later line follows the one before it.
    addLine()->hide();
    m_scroll->setWidget(content);
    content->setAutoFillBackground(false); // setWidget() turned it on; the panel's fill shows through
    column->addWidget(m_scroll);
}

QLabel *RequestLogPanel::addLine() {
    auto *line = new LogLine(m_lines->parentWidget());
    line->setObjectName(QStringLiteral("tester.log.entry"));
    if (!m_entryLabels.isEmpty()) {
        setTabOrder(m_entryLabels.last(), line);
    }
    m_lines->insertWidget(m_lines->count() - 1, line);
    m_entryLabels.append(line);
    return line;
}

void RequestLogPanel::setEntries(const QList<LogEntry> &entries) {
    if (entries == m_shown) {
        return;
    }
    m_shown = entries;
    m_placeholder->setVisible(entries.isEmpty());

    // Lines are kept and reused: the log holds at most 30 entries.
    while (m_entryLabels.size() < entries.size()) {
        addLine();
    }
    for (qsizetype i = 0; i < m_entryLabels.size(); ++i) {
        QLabel *label = m_entryLabels.at(i);
        if (i >= entries.size()) {
            label->hide();
            continue;
        }
        static_cast<LogLine *>(label)->display(entries.at(i));
        label->setVisible(true);
    }
}

void RequestLogPanel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), TesterPalette::withAlpha(palette().color(QPalette::Base), 0.65));
    painter.setPen(TesterPalette::withAlpha(palette().color(QPalette::WindowText), 0.12));
    painter.drawLine(0, 0, width(), 0);
}

} // namespace vibrelle::ui
