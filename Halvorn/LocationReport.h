// The physical location report: after the walk, reads the data file itself
// and says where the last good record lies. Returns the run's exit code.
#ifndef HALVORN_HALVORN_LOCATIONREPORT_H
#define HALVORN_HALVORN_LOCATIONREPORT_H

int PrintLocationReport();

#endif
