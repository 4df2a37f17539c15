#pragma once

#include <QString>

namespace vibrelle::ui {

// The API reference that ships with the tester (docs/api.html of the source tree): installed in
// PREFIX/share/doc/vibrelle-api-tester/ for a tester in PREFIX/bin, else, for a tester run from its
// build tree, the source tree's own copy. "" when neither is there.
QString documentationFile(const QString &applicationDir, const QString &sourceTreeFile);
// The same for this program.
QString documentationFile();

} // namespace vibrelle::ui
