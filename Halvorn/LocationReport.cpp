#include "Halvorn/LocationReport.h"
// Placeholder until the physical location report is written: the run ends
// after the summary with exit code 0.
int PrintLocationReport() { return 0; }
