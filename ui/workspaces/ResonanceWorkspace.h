#pragma once

#include "core/TesterController.h"
#include "ui/ViewState.h"

#include <QList>
#include <QPointer>
#include <QWidget>

namespace vibrelle::ui {

class SegmentedPicker;

// The resonance section: the page picker (bound to the window's resonancePage) above
// the chosen page. The three pages are built once and kept, so a page keeps its state
// while another is shown or the section is left.
class ResonanceWorkspace final : public QWidget {
    Q_OBJECT
public:
    ResonanceWorkspace(TesterController *controller, ViewState *viewState, QWidget *parent = nullptr);

private:
    void refresh();

    QPointer<TesterController> m_controller;
    QPointer<ViewState> m_viewState;
    SegmentedPicker *m_picker = nullptr;
    QList<QWidget *> m_pages; // in ResonancePage order
};

} // namespace vibrelle::ui
