// What the watcher does about a classified record: the incident lines and
// counts, the metrics files, the hung-task marker, the report through the
// handler and the kernel log note, and the restart of the unit. The C entry
// points of kmsgwatch.h (act_on_message, trigger_acr, do_acr, reboot_unit)
// are thin wrappers around these.
//
// "acr" in trigger_acr and do_acr stands for "automatic crash report": the
// report of a kernel incident that kmsgwatch makes by itself, running the
// incident's handler program and writing a note into the kernel log.
#pragma once

#include "functional/apps/kmsgwatch/classify.h"

namespace kmsgwatch {

// Carries out what the classification of a record asks, in this order: the
// test text's report (which ends the process), then for each rule of
// found.rules in table order its line, its count, its metrics file, the
// hung-task marker and its report. With oomContinue out of memory keeps
// watching instead of restarting.
void actOnRecord(const kmsg_record &record, const Classification &found, bool oomContinue);

// Reports an incident through its handler and a kernel log note, then
// carries out the action (exit, restart, or nothing for ACTION_CONTINUE).
// Returns only for ACTION_CONTINUE, when the report could not be made, or
// when the restart request failed.
void reportIncident(const char *name, unsigned action);

// Restarts the unit: a soft reboot through the `reboot` command first unless
// hardOnly, then the reboot system call, whose result it returns (it returns
// only when that request fails).
int restartUnit(bool hardOnly);

} // namespace kmsgwatch
