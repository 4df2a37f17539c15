#include "ui/workspaces/Workspaces.h"

#include "ui/workspaces/BilliardsWorkspace.h"
#include "ui/workspaces/ImpulseWorkspace.h"
#include "ui/workspaces/ResonanceWorkspace.h"

namespace vibrelle::ui {

QWidget *createWorkspace(Section section, TesterController *controller, ViewState *viewState,
                         QWidget *parent) {
    switch (section) {
    case Section::resonance:
        return new ResonanceWorkspace(controller, viewState, parent);
    case Section::impulses:
        return new ImpulseWorkspace(controller, parent);
    case Section::billiards:
        return new BilliardsWorkspace(controller, viewState, parent);
    }
    return nullptr;
}

} // namespace vibrelle::ui
