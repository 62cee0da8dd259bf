#pragma once
// The toolbar's pictures, drawn rather than shipped as bitmaps so they stay
// sharp at any scale. The same icons go on the menu items; a greyed command
// shows the disabled look Qt derives from them.

#include <QIcon>

namespace orvane {

enum class IconKind
{
    Open,
    Export,
    PrintPreview,
    Print,
    PrintSetup,
    PrintDirect,
    About,
    App
};

QIcon MakeIcon(IconKind kind);

} // namespace orvane
