#pragma once

#include "protected_files.h"

#include <QByteArray>
#include <QString>

class QWidget;

namespace mirv {

class Dialogs;

// The operator's save dialog, opened in the user's documents folder (or home) rather than the
// folder the station runs in, which holds its database: the suggested name is a file name.
QString askSaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                        const QString& filter);

// Saves `bytes` as the file `path` the operator chose, through the one writer of output files,
// so that no save in the window writes over the station's own files. On a refusal or a
// failure the operator is told why in a box, and it returns false.
bool saveOutput(const QString& path, const QByteArray& bytes, const ProtectedFiles& station,
                Dialogs& dialogs);

} // namespace mirv
