#pragma once

#include "core/TesterController.h"
#include "ui/ViewState.h"

#include <QWidget>

namespace vibrelle::ui {

// The workspace of one section, built once per window and kept while the window lives
// (a page survives leaving and re-entering its section). Returns nullptr for a section
// that has no workspace yet.
QWidget *createWorkspace(Section section, TesterController *controller, ViewState *viewState,
                         QWidget *parent = nullptr);

} // namespace vibrelle::ui
