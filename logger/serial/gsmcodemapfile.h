#pragma once
// GSMCodeMap.cod read into a code map value: the driver's one use of the
// file system, with the box the operator sees when the file is missing.

#include "gsmcodemap.h"

#include <QString>

namespace quillet {

// Applies the map file's lines (from the current folder by default) over
// `map`, entries the file does not name kept. True only when every basic
// entry 0..127 is filled afterwards and the file set at least one entry. A
// missing file shows the operator a box and gives false.
bool LoadGSMCodeMap(GSMCodeMap &map, const QString &path = QStringLiteral("GSMCodeMap.cod"));

} // namespace quillet
