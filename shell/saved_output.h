#pragma once

#include "protected_files.h"

#include <QByteArray>
#include <QString>

namespace mirv {

class Dialogs;

// Saves `bytes` as the file `path` the operator chose, through the one writer of output files,
// so that no save in the window writes over the station's own files. On a refusal or a
// failure the operator is told why in a box, and it returns false.
bool saveOutput(const QString& path, const QByteArray& bytes, const ProtectedFiles& station,
                Dialogs& dialogs);

} // namespace mirv
