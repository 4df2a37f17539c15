#pragma once

#include "core/TesterController.h"
#include "ui/ViewState.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QVBoxLayout;

namespace vibrelle::ui {

class SegmentedPicker;

// The resonance section: the page picker (bound to the window's resonancePage) above
// the chosen page. Each page is built when first chosen and kept, so a page keeps its
// state while another is shown or the section is left.
class ResonanceWorkspace final : public QWidget {
    Q_OBJECT
public:
    ResonanceWorkspace(TesterController *controller, ViewState *viewState, QWidget *parent = nullptr);

private:
    void refresh();

    QPointer<TesterController> m_controller;
    QPointer<ViewState> m_viewState;
    SegmentedPicker *m_picker = nullptr;
    QVBoxLayout *m_column = nullptr;
    QList<QWidget *> m_pages; // in ResonancePage order; null until first chosen
};

} // namespace vibrelle::ui
