#include "Halvorn/ScanState.h"

ScanStateRecord ScanState;
