// The tree walk of tree jobs: the selection of the caller's tree view, node by node as the callback decides.
#pragma once

#include "copylib/Walk.h"

// Runs one pass of a tree job over the tree view in job->hTreeWnd with the pass's node handler
// (calc_tree_progress_callback or copy_tree_progress_callback). The tree view belongs to another thread: every
// read is a message sent to it. Returns 2 when the pass was ended (answer 2 or the cancel flag), else the value
// of the last node visited (0 when the tree has no nodes to visit).
int kovra_tree(KOVRA_JOB* job, WALK_HANDLER handler);

// The two passes of a tree job.
int calc_tree_walk(KOVRA_JOB* job);
int copy_tree_walk(KOVRA_JOB* job);
