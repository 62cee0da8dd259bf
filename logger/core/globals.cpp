#include "globals.h"
