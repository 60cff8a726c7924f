#pragma once
// The toolbar's 32 x 32 pictures, drawn rather than shipped.
#include <QIcon>

namespace norvale::ui {

QIcon commandIcon(int commandId);

}  // namespace norvale::ui
