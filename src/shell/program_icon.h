#pragma once

#include <QImage>

namespace qv {

// The program's icon drawn at size by size pixels; the drawing is made for 32 and scales to the
// other sizes a desktop theme asks for. Needs no application object, so the build can render
// the installed icons with it.
QImage ProgramIconImage(int size);

} // namespace qv
