#pragma once
// The tool bar pictures, drawn here so that they look the same on every desktop.
#include <QIcon>

namespace trawlex {

enum class TGlyph { Search, Stop, Save, Print, PrinterSetup, Log, Folder };

QIcon MakeIcon(TGlyph glyph);

}  // namespace trawlex
