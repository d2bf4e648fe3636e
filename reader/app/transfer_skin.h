// The look both transfer windows share: a fixed-size window with the
// programs' green gradient and a heading, controls placed at the positions
// of the original skinned dialogs.
#pragma once

#include <QString>

class QDialog;

namespace fvx::reader::app {

inline constexpr int kTransferButtonWidth = 75;
inline constexpr int kTransferButtonHeight = 25;

void SkinTransferWindow(QDialog* dialog, const QString& heading);

}  // namespace fvx::reader::app
