#include "ui/TesterView.h"

#include "ui/AccessibleControls.h"
#include "ui/Documentation.h"
#include "ui/Glyphs.h"
#include "ui/IconLabel.h"
#include "ui/RequestLogPanel.h"
#include "ui/SectionRow.h"
#include "ui/StatusLine.h"
#include "ui/TesterPalette.h"
#include "ui/workspaces/WorkspaceKit.h"
#include "ui/workspaces/Workspaces.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace vibrelle::ui {
namespace {

constexpr Section allSections[] = {Section::resonance, Section::impulses, Section::billiards};

QString sectionSymbol(Section section) {
    switch (section) {
    case Section::resonance:
        return QStringLiteral("waveform.path");
    case Section::impulses:
        return QStringLiteral("waveform.path.ecg");
    case Section::billiards:
        return QStringLiteral("circle.circle");
    }
    return {};
}

QString sectionDescription(Section section) {
    switch (section) {
    case Section::resonance:
        return QStringLiteral("Esplora un effetto continuo e modifica i parametri dal vivo.");
    case Section::impulses:
        return QStringLiteral("Confronta tre caratteri tattili, con l'intensità che preferisci.");
    case Section::billiards:
        return QStringLiteral("Trasforma la distanza della stecca in tensione sul trackpad.");
    }
    return {};
}

// A bar on a translucent fill with a one-pixel line along one edge: the connection bar
// (violet line below) and the footer (divider above).
class MaterialBar final : public QWidget {
public:
    enum class Edge { top, bottom };
    MaterialBar(Edge edge, bool violetLine, QWidget *parent)
        : QWidget(parent)
        , m_edge(edge)
        , m_violet(violetLine) {}

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        const double fill = TesterPalette::isDark(palette()) ? 0.22 : 0.45;
        painter.fillRect(rect(), TesterPalette::withAlpha(palette().color(QPalette::Base), fill));
        const QColor line = m_violet ? TesterPalette::withAlpha(TesterPalette::violet(), 0.16)
                                     : TesterPalette::withAlpha(palette().color(QPalette::WindowText), 0.12);
        const int y = m_edge == Edge::top ? 0 : height() - 1;
        painter.fillRect(QRect(0, y, width(), 1), line);
    }

private:
    Edge m_edge;
    bool m_violet;
};

// 174 wide, or as wide as its content needs with a larger text.
class SidebarBackground final : public QWidget {
public:
    using QWidget::QWidget;

    QSize sizeHint() const override { return {minimumSizeHint().width(), QWidget::sizeHint().height()}; }
    QSize minimumSizeHint() const override {
        const QSize content = QWidget::minimumSizeHint();
        return {std::max(174, content.width()), content.height()};
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), TesterPalette::withAlpha(TesterPalette::violet(), 0.035));
    }
};

class VerticalRule final : public QWidget {
public:
    explicit VerticalRule(QWidget *parent)
        : QWidget(parent) {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), TesterPalette::withAlpha(TesterPalette::violet(), 0.16));
    }
};

class StatusDot final : public QWidget {
public:
    explicit StatusDot(QWidget *parent)
        : QWidget(parent) {
        setFixedSize(6, 6);
    }

    void setConnected(bool connected) {
        if (connected != m_connected) {
            m_connected = connected;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_connected ? TesterPalette::success(palette())
                                     : TesterPalette::withAlpha(TesterPalette::secondary(palette()), 0.5));
        painter.drawEllipse(QRectF(rect()));
    }

private:
    bool m_connected = false;
};

class HeaderTile final : public QWidget {
public:
    explicit HeaderTile(QWidget *parent)
        : QWidget(parent) {
        setFixedSize(36, 36);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath tile;
        tile.addRoundedRect(QRectF(rect()), 11, 11);
        painter.fillPath(tile, TesterPalette::violet());
        paintGlyph(painter, QRectF(7.5, 7.5, 21, 21), QStringLiteral("waveform.path"), Qt::white);
    }
};

} // namespace

TesterView::TesterView(TesterController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_viewState(new ViewState(this)) {
    installAccessibleControls();
    // The style keeps a pixmap of each control state it draws (a slider at each value and width, a
    // button in each state) in the process's pixmap cache, up to 10 MiB by default, so a long session
    // grows by megabytes that it never needs again. A 1 MiB cache keeps the memory flat.
    QPixmapCache::setCacheLimit(std::min(QPixmapCache::cacheLimit(), pixmapCacheKiB));
    setWindowTitle(QString::fromLatin1(applicationTitle));
    setMinimumSize(790, 650);
    setAutoFillBackground(true);

    // Violet is the accent of every control in the window.
    QPalette tinted = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        tinted.setColor(group, QPalette::Highlight, TesterPalette::violet());
        tinted.setColor(group, QPalette::HighlightedText, Qt::white);
        tinted.setColor(group, QPalette::Link, TesterPalette::violet());
    }
    setPalette(tinted);

    auto *root = new QHBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildSidebar());
    root->addWidget(new VerticalRule(this));

    auto *main = new QVBoxLayout;
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->addWidget(buildConnectionBar());

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("tester.workspace"));
    // Not a stop of its own: Tab reaches the controls inside, and the area scrolls to each.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->viewport()->setAutoFillBackground(false);
    auto *content = new QWidget(m_scroll);
    // In the area before it is filled: the area sizes its content as it takes it, and an empty
    // one is sized at no cost (the filled one is laid out once, when the window is shown).
    m_scroll->setWidget(content);
    content->setAutoFillBackground(false); // setWidget() turned it on; the canvas shows through
    m_column = new QVBoxLayout(content);
    m_column->setContentsMargins(24, 24, 24, 24);
    m_column->setSpacing(22);
    m_column->addWidget(buildHeading());
    m_column->addStretch(1);
    // The other sections' workspaces are built when first chosen (see workspace()).
    workspace(m_viewState->selectedSection());
    main->addWidget(m_scroll, 1);

    // The request log is built when first shown, here (see refresh()).
    m_main = main;
    main->addWidget(buildFooter());
    root->addLayout(main, 1);

    // Esc anywhere in the window presses the global stop.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, m_stop, &QPushButton::click);

    // The texts first, then the sizes that follow from them: the window is measured once.
    refresh();
    updateIcons();
    applyTextMetrics();
    connect(m_controller, &TesterController::changed, this, &TesterView::scheduleRefresh);
    connect(m_viewState, &ViewState::changed, this, &TesterView::scheduleRefresh);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive) {
            applicationDeactivated();
        }
    });
}

QSize TesterView::sizeHint() const {
    // 840 × 740, grown in proportion with a larger text.
    return (QSize(840, 740) * std::max(1.0, fontScale())).expandedTo(minimumSize());
}

QString TesterView::versionLine(const QString &version) {
    return QStringLiteral("Versione ") + (version.isEmpty() ? QStringLiteral("di sviluppo") : version);
}

void TesterView::applicationDeactivated() {
    m_viewState->setCueInteractionActive(false);
    if (m_controller) {
        m_controller->stopOnDeactivation(QString::fromUtf8(deactivationReason));
    }
}

QWidget *TesterView::buildSidebar() {
    auto *sidebar = new SidebarBackground(this);
    sidebar->setObjectName(QStringLiteral("tester.sidebar"));
    sidebar->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto *column = new QVBoxLayout(sidebar);
    column->setContentsMargins(14, 24, 14, 24);
    column->setSpacing(28);

    // Header: the violet tile and the name.
    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(new HeaderTile(sidebar), 0, Qt::AlignVCenter);
    auto *names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(textLabel(QStringLiteral("Vibrelle"), 13, QFont::DemiBold, Tone::primary, sidebar));
    names->addWidget(textLabel(QStringLiteral("API Tester"), 10, QFont::Normal, Tone::secondary, sidebar));
    header->addLayout(names);
    header->addStretch(1);
    column->addLayout(header);

    // The tests: caption, one row per section, and the hint while switching is locked.
    auto *tests = new QVBoxLayout;
    tests->setSpacing(7);
    auto *caption = textLabel(QStringLiteral("PROVE"), 10, QFont::DemiBold, Tone::secondary, sidebar);
    setDesignFont(caption, 10, QFont::DemiBold, Face::system, 1.2);
    caption->setContentsMargins(10, 0, 10, 4);
    tests->addWidget(caption);
    auto *rows = new TabList(sidebar);
    rows->setObjectName(QStringLiteral("tester.sections"));
    rows->setAccessibleName(QStringLiteral("Prove"));
    auto *rowColumn = new QVBoxLayout(rows);
    rowColumn->setContentsMargins(0, 0, 0, 0);
    rowColumn->setSpacing(tests->spacing());
    for (const Section section : allSections) {
        auto *row = new SectionRow(sectionSymbol(section), sectionTitle(section), rows);
        row->setObjectName(sectionObjectName(section));
        connect(row, &QAbstractButton::clicked, this,
                [this, section] { m_viewState->setSelectedSection(section); });
        m_sectionRows.insert(section, row);
        rowColumn->addWidget(row);
    }
    tests->addWidget(rows);
    m_hint = textLabel(QStringLiteral("Ferma l'effetto per cambiare prova."), 10, QFont::Normal,
                       Tone::secondary, sidebar);
    m_hint->setObjectName(QStringLiteral("tester.section.hint"));
    m_hint->setWordWrap(true);
    m_hint->setContentsMargins(10, 8, 10, 0);
    tests->addWidget(m_hint);
    column->addLayout(tests);

    column->addSpacerItem(new QSpacerItem(0, 20, QSizePolicy::Minimum, QSizePolicy::Expanding));

    // Footer: the documentation link, publisher and version.
    auto *footer = new QVBoxLayout;
    footer->setContentsMargins(10, 0, 10, 0);
    footer->setSpacing(10);
    auto *docs = new QToolButton(sidebar);
    docs->setObjectName(QStringLiteral("tester.docs"));
    docs->setText(QStringLiteral("API && Docs")); // "&&": a literal ampersand, not a mnemonic
    docs->setAccessibleName(QStringLiteral("API & Docs"));
    // The API reference that ships with the tester, opened in the desktop's browser.
    const QString reference = documentationFile();
    docs->setToolTip(reference.isEmpty() ? QStringLiteral("Documentazione non installata") : reference);
    docs->setEnabled(!reference.isEmpty());
    docs->setIcon(glyph(QStringLiteral("arrow.up.right.square"), TesterPalette::violet()));
    docs->setIconSize(QSize(textLength(13), textLength(13)));
    docs->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    docs->setAutoRaise(true);
    setDesignFont(docs, 12, QFont::Medium);
    docs->setCursor(Qt::PointingHandCursor);
    setTone(docs, Tone::accent);
    connect(docs, &QToolButton::clicked, this, [reference] { QDesktopServices::openUrl(QUrl::fromLocalFile(reference)); });
    footer->addWidget(docs, 0, Qt::AlignLeft);
    // Publisher and version: two caption lines, 3 apart.
    auto *about = new QVBoxLayout;
    about->setSpacing(3);
    about->addWidget(textLabel(QString::fromLatin1(publisher), 10, QFont::Normal, Tone::tertiary, sidebar));
    auto *version = textLabel(versionLine(QCoreApplication::applicationVersion()), 10, QFont::Normal,
                              Tone::tertiary, sidebar);
    version->setObjectName(QStringLiteral("tester.version"));
    about->addWidget(version);
    footer->addLayout(about);
    column->addLayout(footer);
    return sidebar;
}

QWidget *TesterView::buildConnectionBar() {
    auto *bar = new MaterialBar(MaterialBar::Edge::bottom, true, this);
    bar->setObjectName(QStringLiteral("tester.connection"));
    auto *column = new QVBoxLayout(bar);
    column->setContentsMargins(24, 14, 24, 14);
    column->setSpacing(7);

    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    m_connectionDot = new StatusDot(bar);
    row->addWidget(m_connectionDot, 0, Qt::AlignVCenter);
    m_connectionWord = textLabel(QString(), 11, QFont::Medium, Tone::primary, bar);
    m_connectionWord->setObjectName(QStringLiteral("tester.connection.state"));
    row->addWidget(m_connectionWord);
    row->addSpacerItem(new QSpacerItem(6, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));

    m_address = new QLineEdit(bar);
    m_address->setObjectName(QStringLiteral("tester.address"));
    m_address->setAccessibleName(QStringLiteral("Indirizzo del servizio API locale"));
    m_address->setPlaceholderText(QStringLiteral("Indirizzo locale"));
    setDesignFont(m_address, 11, QFont::Normal, Face::monospace);
    m_address->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Whatever puts the text there (typing, paste, an input method, assistive technology), the
    // address used is the one the field shows; a disabled field takes no text from anywhere.
    connect(m_address, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!m_controller) {
            return;
        }
        if (m_address->isEnabled()) {
            m_controller->setAddress(text);
        } else if (text != m_controller->address()) {
            m_address->setText(m_controller->address());
        }
    });
    row->addWidget(m_address);

    m_verify = new QPushButton(QStringLiteral("Verifica"), bar);
    m_verify->setObjectName(QStringLiteral("tester.verify"));
    setDesignFont(m_verify, 11);
    m_verify->setAutoDefault(false);
    connect(m_verify, &QPushButton::clicked, this, [this] {
        if (m_controller && m_controller->controlsEnabled()) {
            m_controller->verifyConnection();
        }
    });
    row->addWidget(m_verify);
    column->addLayout(row);

    m_status = new StatusLine(bar);
    m_status->setObjectName(QStringLiteral("tester.status"));
    column->addWidget(new StatusSlot(m_status, bar));
    return bar;
}

QWidget *TesterView::buildHeading() {
    auto *heading = new QWidget(this);
    auto *column = new QVBoxLayout(heading);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    m_sectionTitle = textLabel(QString(), 26, QFont::DemiBold, Tone::primary, heading);
    m_sectionTitle->setObjectName(QStringLiteral("tester.section.title"));
    row->addWidget(m_sectionTitle, 0, Qt::AlignBottom);
    row->addStretch(1);
    m_badge = new IconLabel(QStringLiteral("waveform"), QString(), heading);
    m_badge->setObjectName(QStringLiteral("tester.badge"));
    setDesignFont(m_badge, 11, QFont::Medium);
    m_badge->setGlyphScale(1.1);
    setTone(m_badge, Tone::accent);
    m_badgeBox = new QVBoxLayout; // its bottom margin sits the badge on the title's baseline
    m_badgeBox->addWidget(m_badge);
    row->addLayout(m_badgeBox);
    row->setAlignment(m_badgeBox, Qt::AlignBottom);
    column->addLayout(row);

    m_sectionDescription = textLabel(QString(), 12, QFont::Normal, Tone::secondary, heading);
    m_sectionDescription->setObjectName(QStringLiteral("tester.section.description"));
    m_sectionDescription->setWordWrap(true);
    column->addWidget(m_sectionDescription);
    return heading;
}

QWidget *TesterView::buildFooter() {
    auto *footer = new MaterialBar(MaterialBar::Edge::top, false, this);
    footer->setObjectName(QStringLiteral("tester.footer"));
    auto *row = new QHBoxLayout(footer);
    row->setContentsMargins(22, 14, 22, 14);
    row->setSpacing(14);

    m_logToggle = new QToolButton(footer);
    m_logToggle->setObjectName(QStringLiteral("tester.log.toggle"));
    m_logToggle->setText(QStringLiteral("Registro"));
    m_logToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_logToggle->setAutoRaise(true);
    setDesignFont(m_logToggle, 11);
    m_logToggle->setFocusPolicy(Qt::StrongFocus);
    setTone(m_logToggle, Tone::secondary);
    connect(m_logToggle, &QToolButton::clicked, this,
            [this] { m_viewState->setShowingLog(!m_viewState->showingLog()); });
    row->addWidget(m_logToggle);
    row->addStretch(1);

    auto *audio =
        new IconLabel(QStringLiteral("speaker.slash"), QStringLiteral("Audio materico spento"), footer);
    audio->setObjectName(QStringLiteral("tester.audio"));
    setDesignFont(audio, 10);
    audio->setGlyphScale(1.2);
    setTone(audio, Tone::secondary);
    row->addWidget(audio, 0, Qt::AlignVCenter);

    m_stop = new QPushButton(QStringLiteral("Ferma tutto"), footer);
    m_stop->setObjectName(QStringLiteral("tester.stop"));
    m_stop->setToolTip(QStringLiteral("Ferma ogni effetto · Esc"));
    m_stop->setAutoDefault(false);
    setTone(m_stop, Tone::failure);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (m_controller) {
            m_controller->stop();
        }
    });
    row->addWidget(m_stop);
    return footer;
}

TesterView::~TesterView() {
    // The children are destroyed after this body; a pad that is still pressed ends its drag when
    // hidden and the controller then publishes a change. Nothing may reach this half-destroyed view.
    if (m_controller) {
        disconnect(m_controller, nullptr, this, nullptr);
    }
    disconnect(m_viewState, nullptr, this, nullptr);
    disconnect(qApp, nullptr, this, nullptr);
}

QWidget *TesterView::workspace(Section section) {
    if (QWidget *built = m_workspaces.value(section)) {
        return built;
    }
    QWidget *parent = m_column->parentWidget();
    QWidget *workspace = createWorkspace(section, m_controller, m_viewState, parent);
    if (workspace) {
        workspace->hide();
        m_column->insertWidget(m_column->count() - 1, workspace); // above the closing stretch
        joinTabOrder(workspace, parent);
        m_workspaces.insert(section, workspace);
    }
    return workspace;
}

void TesterView::scheduleRefresh() {
    if (m_refreshQueued) {
        return;
    }
    m_refreshQueued = true;
    QMetaObject::invokeMethod(this, &TesterView::refresh, Qt::QueuedConnection);
}

void TesterView::refresh() {
    m_refreshQueued = false;
    if (!m_controller) {
        return;
    }
    const TesterController &c = *m_controller;
    const Section selected = m_viewState->selectedSection();
    const bool controlsEnabled = c.controlsEnabled();

    // Sidebar: while switching is locked only the current section stays reachable.
    for (auto it = m_sectionRows.cbegin(); it != m_sectionRows.cend(); ++it) {
        const bool isSelected = it.key() == selected;
        it.value()->setChecked(isSelected);
        it.value()->setEnabled(isSelected || controlsEnabled);
    }
    m_hint->setVisible(!controlsEnabled);

    // Connection bar.
    static_cast<StatusDot *>(m_connectionDot)->setConnected(c.connected());
    m_connectionWord->setText(c.connected() ? QStringLiteral("Connesso") : QStringLiteral("Da collegare"));
    if (m_address->text() != c.address()) {
        m_address->setText(c.address());
    }
    m_address->setEnabled(c.connectionEditable());
    m_verify->setEnabled(controlsEnabled);
    if (m_status->status() != c.status()) {
        announceStatus(c.status());
    }

    // Heading, badge and workspace of the selected section.
    m_sectionTitle->setText(sectionTitle(selected));
    m_sectionDescription->setText(sectionDescription(selected));
    if (c.resonanceMode()) {
        if (c.controlledPaused()) {
            m_badge->setContent(QStringLiteral("pause.fill"), QStringLiteral("In pausa"));
        } else {
            m_badge->setContent(QStringLiteral("waveform"), QStringLiteral("In corso"));
        }
    }
    m_badge->setVisible(c.resonanceMode().has_value());
    workspace(selected);
    for (auto it = m_workspaces.cbegin(); it != m_workspaces.cend(); ++it) {
        it.value()->setVisible(it.key() == selected);
    }

    // Log and footer.
    const bool showingLog = m_viewState->showingLog();
    if (showingLog && !m_log) {
        m_log = new RequestLogPanel(this);
        m_log->hide();
        m_main->insertWidget(m_main->count() - 1, m_log); // above the footer
        joinTabOrder(m_log, m_scroll);
    }
    if (m_log) {
        m_log->setEntries(c.entries());
        m_log->setVisible(showingLog);
    }
    const QString toggleName = showingLog ? QStringLiteral("Nascondi registro richieste")
                                          : QStringLiteral("Mostra registro richieste");
    if (m_logToggle->accessibleName() != toggleName) {
        m_logToggle->setAccessibleName(toggleName);
        updateIcons();
    }
}

void TesterView::updateIcons() {
    const QPalette &colors = palette();
    m_stop->setIcon(glyph(QStringLiteral("stop.fill"), TesterPalette::failure(colors)));
    m_logToggle->setIcon(
        glyph(m_viewState->showingLog() ? QStringLiteral("chevron.down") : QStringLiteral("chevron.up"),
              TesterPalette::secondary(colors)));
}

void TesterView::changeEvent(QEvent *event) {
    if (event->type() == QEvent::PaletteChange && m_stop) {
        updateIcons();
    }
    // The application font changed: once every control has taken its new font, size what
    // grows with the text.
    if (event->type() == QEvent::FontChange && m_stop) {
        QMetaObject::invokeMethod(this, &TesterView::applyTextMetrics, Qt::QueuedConnection);
    }
    QWidget::changeEvent(event);
}

void TesterView::applyTextMetrics() {
    m_connectionWord->setMinimumWidth(
        QFontMetrics(designFont(11, QFont::Medium)).horizontalAdvance(QStringLiteral("Da collegare")));
    m_address->setMaximumWidth(textLength(255));
    m_address->setMinimumWidth(textLength(180));
    m_status->setMaximumHeight(QFontMetrics(designFont(11)).lineSpacing() * 2 + 1); // at most two lines
    const int baselineLift = QFontMetrics(designFont(26, QFont::DemiBold)).descent() -
                             QFontMetrics(designFont(11, QFont::Medium)).descent();
    m_badgeBox->setContentsMargins(0, 0, 0, std::max(0, baselineLift));
    m_logToggle->setIconSize(QSize(textLength(10), textLength(10)));
    m_stop->setIconSize(QSize(textLength(12), textLength(12)));
    // Never smaller than the design's minimum, nor than the text needs: nothing is cut off.
    const QSize content = layout()->minimumSize();
    setMinimumSize(std::max(790, content.width()), std::max(650, content.height()));
}

void TesterView::announceStatus(const QString &status) {
    m_status->setStatus(status);
}

} // namespace vibrelle::ui
