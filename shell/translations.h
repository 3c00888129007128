#pragma once

class QCoreApplication;

namespace mirv {

// Qt's own Chinese texts for the standard buttons (是, 否, 确定), so that no box mixes English
// buttons with Chinese texts.
void installChineseStandardButtons(QCoreApplication& app);

} // namespace mirv
