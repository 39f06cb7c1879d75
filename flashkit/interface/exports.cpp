// placeholder until the exports land
#include "flashkit/interface/flashkit.h"
