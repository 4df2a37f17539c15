#include "ui/workspaces/Workspaces.h"

namespace vibrelle::ui {

QWidget *createWorkspace(Section, TesterController *, ViewState *, QWidget *)
{
    return nullptr;
}

} // namespace vibrelle::ui
