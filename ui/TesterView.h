#pragma once

#include "core/TesterController.h"
#include "ui/ViewState.h"

#include <QMap>
#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QToolButton;

namespace vibrelle::ui {

class IconLabel;
class RequestLogPanel;
class SectionRow;
class StatusLine;

// The whole content of the tester's window: the sidebar with the three sections, the
// connection bar, the selected section's heading and workspace, the request log and
// the footer with the global stop. It reads the controller's published state and
// calls its operations; its own state is the ViewState.
//
// Re-rendering is coalesced: however many times the controller announces a change
// during one operation, the view refreshes once, on the next turn of the event loop.
class TesterView final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char *applicationTitle = "Vibrelle API Tester";
    static constexpr const char *publisher = "Vibrelle";
    static constexpr const char *deactivationReason = "il tester ha perso il primo piano";
    // The most the process's pixmap cache holds once the window exists.
    static constexpr int pixmapCacheKiB = 1024;

    explicit TesterView(TesterController *controller, QWidget *parent = nullptr);
    ~TesterView() override;

    TesterController *controller() const { return m_controller; }
    ViewState *viewState() const { return m_viewState; }

    // "Versione 1.2.3", or "Versione di sviluppo" without a version.
    static QString versionLine(const QString &version);

    // The application is losing (or has lost) the foreground.
    void applicationDeactivated();

    // The window's default size.
    QSize sizeHint() const override;

protected:
    void changeEvent(QEvent *event) override;

private:
    QWidget *buildSidebar();
    QWidget *buildConnectionBar();
    QWidget *buildHeading();
    QWidget *buildFooter();
    // The section's workspace, built the first time it is asked for.
    QWidget *workspace(Section section);
    void scheduleRefresh();
    void refresh();
    void announceStatus(const QString &status);
    // Sizes that follow the text: minimum widths, the status line's two lines, icon sizes.
    void applyTextMetrics();
    // Icons drawn in palette-derived colours, redrawn when the desktop theme changes.
    void updateIcons();

    QPointer<TesterController> m_controller;
    ViewState *m_viewState = nullptr;
    bool m_refreshQueued = false;

    QMap<Section, SectionRow *> m_sectionRows;
    QMap<Section, QWidget *> m_workspaces;
    QLabel *m_hint = nullptr;
    QWidget *m_connectionDot = nullptr;
    QLabel *m_connectionWord = nullptr;
    QLineEdit *m_address = nullptr;
    QPushButton *m_verify = nullptr;
    StatusLine *m_status = nullptr;
    QScrollArea *m_scroll = nullptr;
    QVBoxLayout *m_column = nullptr; // the heading, the workspaces, a closing stretch
    QLabel *m_sectionTitle = nullptr;
    QLabel *m_sectionDescription = nullptr;
    IconLabel *m_badge = nullptr;
    QVBoxLayout *m_badgeBox = nullptr;
    QVBoxLayout *m_main = nullptr; // connection bar, workspace area, log, footer
    RequestLogPanel *m_log = nullptr; // built when first shown
    QToolButton *m_logToggle = nullptr;
    QPushButton *m_stop = nullptr;
};

} // namespace vibrelle::ui
