// Atomic publishing of a file: readers of the path, and a crash, see the old
// content or the new one, never a partial file. The new content is written
// to a temporary file beside the path, synced to the disk, and renamed over
// it.
#pragma once

#include <limits.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

struct publish_file {
    FILE *out;                /* the temporary file, open for writing; NULL when none */
    char temporary[PATH_MAX]; /* its path: "<path>.<process id>" */
    const char *path;         /* where it is published (the caller's string) */
};

enum publish_outcome {
    PUBLISH_DONE = 0,         /* the new file is in place */
    PUBLISH_WRITE_FAILED = 1, /* some of it was not written or synced: nothing published */
    PUBLISH_RENAME_FAILED = 2 /* complete, but it could not take the path's place */
};

/* Creates the temporary file "<path>.<pid>" (same directory, so that the
 * rename is atomic) and opens it for writing, closed on exec. The file is
 * made new (O_CREAT|O_EXCL|O_NOFOLLOW: never opened through a link, never
 * one someone else prepared), private at first and then given the mode the
 * file mode creation mask allows (fchmod on the descriptor). A leftover of
 * that name is removed only as publish_remove_stale removes it. 0, or -1
 * with errno set and nothing created. */
int publish_open(struct publish_file *file, const char *path);

/* Completes the temporary file (flush, any write error the stream met on
 * the way, fsync, close) and renames it over the path. On failure the
 * temporary file is removed and errno tells what failed. */
enum publish_outcome publish_commit(struct publish_file *file);

/* Closes and removes the temporary file, publishing nothing. */
void publish_abandon(struct publish_file *file);

/* Removes what publishing at path left behind in runs that were killed: the
 * entries "<path>.<pid>" of the path's folder (pid in decimal) whose process
 * no longer exists. This process's own id counts as gone, so call it before
 * this process publishes at the path. Nothing else in the folder is touched.
 * Returns the number of files removed, or -1 (errno set) when the folder
 * cannot be read. A temporary whose id a live process has taken again stays
 * until a later call. */
int publish_remove_stale(const char *path);

#ifdef __cplusplus
}
#endif
