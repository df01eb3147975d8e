// The directory walk and the handlers that the passes of directory jobs and whole tree nodes run over it.
//
// A walk calls its handler with a walk type, the job and the walk record (tree walks pass their item buffer
// instead). Files of a directory are reported before its subdirectories, each group in the order in which the
// file system lists them.
#pragma once

#include "copylib/Job.h"
#include "platform/fs/find.h"

constexpr int WALK_ENTER_DIR = 0;
constexpr int WALK_LEAVE_DIR = 1;
constexpr int WALK_MEET_FILE = 2;
constexpr int WALK_MEET_NODE = 3; // tree walks only
// An entry whose full path does not fit the 2048-character path buffers. The record's path then names the
// directory being listed and the find data the entry; the handler reports it instead of handling a cut path.
constexpr int WALK_MEET_LONG_PATH = 4;

// One per started directory walk, zero-filled; the recursion reuses it.
struct WALK_RECORD {
    int nLevel;   // -1 at the start; raised while a directory's listing is walked
    int nRecurse; // 1: descend into subdirectories; 0: report them as entries of type 2
    WCHAR szPath[KOVRA_PATH_CHARS];
    WCHAR szLevelDest[KOVRA_PATH_CHARS]; // destination of the directory being walked (set by the copy handler)
    BOOL bMore;
    BOOL bIsDirectory;
    WIN32_FIND_DATAW FindData;
    // What the enter step learnt about the level destination (one of the LEVEL_DEST_ values), saved and restored
    // with it, so that the files of the level need not look their destinations up one by one.
    int nLevelDestState;
    // FindData comes from a listing made just now, not from one the calculation pass kept: its attributes are
    // the entry's own, as a look-up would give them.
    bool bListedNow;
};

constexpr int LEVEL_DEST_UNKNOWN = 0;
constexpr int LEVEL_DEST_ABSENT = 1; // does not exist
constexpr int LEVEL_DEST_MADE = 2;   // just made by this walk, so empty
constexpr int LEVEL_DEST_EXISTS = 3; // was there already

using WALK_HANDLER = int (*)(int type, KOVRA_JOB* job, void* data);

// Walks `directory` (at most 2047 characters). Returns 2 when the walk was aborted (answer 2 or the cancel flag),
// else 0. A link to a directory is never descended into: it is reported as an entry of type 2, so a walk stays
// inside the tree it was given and cannot loop.
int dir_walk_recurse(LPCWSTR directory, WALK_RECORD* walk, WALK_HANDLER handler, KOVRA_JOB* job, BOOL* cancel);

// Starts a walk of `directory` with a fresh record (level -1, recurse 1).
int start_dir_walk(LPCWSTR directory, WALK_HANDLER handler, KOVRA_JOB* job, BOOL* cancel);

// Directory handlers of directory jobs and of whole directory nodes.
int calc_dir_callback(int type, KOVRA_JOB* job, void* data);
int copy_dir_callback(int type, KOVRA_JOB* job, void* data);

// Node handlers of tree jobs, called by the tree walk with WALK_MEET_NODE for every node it reads and with
// WALK_ENTER_DIR / WALK_MEET_FILE for a node taken whole.
int calc_tree_progress_callback(int type, KOVRA_JOB* job, void* data);
int copy_tree_progress_callback(int type, KOVRA_JOB* job, void* data);
