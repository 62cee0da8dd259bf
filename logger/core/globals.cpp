#include "globals.h"

namespace quillet {

GlobalState G;

} // namespace quillet
