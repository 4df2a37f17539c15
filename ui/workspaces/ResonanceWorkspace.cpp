#include "ui/workspaces/ResonanceWorkspace.h"

#include "ui/workspaces/ResonancePages.h"
#include "ui/workspaces/SegmentedPicker.h"
#include "ui/workspaces/WorkspaceKit.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace vibrelle::ui {
namespace {

const QList<ResonancePage> pageOrder{ResonancePage::controlled, ResonancePage::gesture, ResonancePage::timed};

QString pageCaseName(ResonancePage page) {
    switch (page) {
    case ResonancePage::controlled:
        return QStringLiteral("controlled");
    case ResonancePage::gesture:
        return QStringLiteral("gesture");
    case ResonancePage::timed:
        return QStringLiteral("timed");
    }
    return {};
}

} // namespace

ResonanceWorkspace::ResonanceWorkspace(TesterController *controller, ViewState *viewState, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_viewState(viewState) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(20);

    QStringList titles;
    for (const ResonancePage page : pageOrder) {
        titles.append(resonancePageTitle(page));
    }
    const QString pickerTitle = QStringLiteral("Modalità risonanza");
    m_picker = new SegmentedPicker(titles, this);
    m_picker->setObjectName(QStringLiteral("tester.resonance.mode"));
    m_picker->setAccessibleName(pickerTitle);
    for (int i = 0; i < pageOrder.size(); ++i) {
        m_picker->segment(i)->setObjectName(QStringLiteral("tester.resonance.mode.") +
                                            pageCaseName(pageOrder.at(i)));
    }
    connect(m_picker, &SegmentedPicker::activated, this, [this](int index) {
        if (m_viewState) {
            m_viewState->setResonancePage(pageOrder.at(index));
        }
    });
    auto *pickerRow = new QHBoxLayout;
    pickerRow->setSpacing(10);
    pickerRow->addWidget(textLabel(pickerTitle, 12));
    pickerRow->addWidget(m_picker, 1);
    column->addLayout(pickerRow);

    m_column = column;
    m_pages = {nullptr, nullptr, nullptr}; // each built when first chosen
    column->addStretch(1);

    connect(controller, &TesterController::changed, this, &ResonanceWorkspace::refresh);
    connect(viewState, &ViewState::changed, this, &ResonanceWorkspace::refresh);
    refresh();
}

void ResonanceWorkspace::refresh() {
    if (!m_controller || !m_viewState) {
        return;
    }
    m_picker->setEnabled(m_controller->controlsEnabled());
    const int current = static_cast<int>(pageOrder.indexOf(m_viewState->resonancePage()));
    m_picker->setCurrentIndex(current);
    if (!m_pages.at(current)) {
        QWidget *page = nullptr;
        switch (pageOrder.at(current)) {
        case ResonancePage::controlled:
            page = new ControlledPage(m_controller, this);
            break;
        case ResonancePage::gesture:
            page = new GesturePage(m_controller, this);
            break;
        case ResonancePage::timed:
            page = new TimedPage(m_controller, this);
            break;
        }
        page->hide();
        m_column->insertWidget(m_column->count() - 1, page); // above the closing stretch
        joinTabOrder(page, this);
        m_pages[current] = page;
    }
    for (int i = 0; i < m_pages.size(); ++i) {
        // Only the chosen page takes part in the layout.
        if (m_pages.at(i)) {
            m_pages.at(i)->setVisible(i == current);
        }
    }
}

} // namespace vibrelle::ui
