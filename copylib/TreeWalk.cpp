#include "copylib/TreeWalk.h"

#include "copylib/Trace.h"
#include "platform/fs/files.h"
#include "platform/ui/commctrl.h"

namespace {

// Every read asks for text, image, parameter, state, handle and children flag, without a text buffer.
constexpr UINT kTreeItemMask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_STATE | TVIF_HANDLE | TVIF_CHILDREN;
static_assert(kTreeItemMask == 0x5F);

HTREEITEM next_item(HWND tree, HTREEITEM item, UINT code) {
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, code, reinterpret_cast<LPARAM>(item)));
}

void read_item(KOVRA_JOB* job, HTREEITEM item) {
    TVITEMW* buffer = job->pTreeItem;
    *buffer = TVITEMW{};
    buffer->mask = kTreeItemMask;
    buffer->hItem = item;
    SendMessageW(job->hTreeWnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buffer));
}

int visit_children(KOVRA_JOB* job, HTREEITEM parent, WALK_HANDLER handler);

// One node: the callback decides whether to walk its children, take it whole or leave it out.
int get_next_tree_node(KOVRA_JOB* job, HTREEITEM node, WALK_HANDLER handler) {
    // A cancelled job stops here rather than visiting the remaining nodes only to fail each of their files.
    if (job_is_cancelled(job))
        return KOVRA_PROGRESS_ABORT;
    read_item(job, node);
    int answer = handler(WALK_MEET_NODE, job, job->pTreeItem);
    switch (answer) {
    case KOVRA_PROGRESS_CONTINUE:
        return visit_children(job, node, handler);
    case KOVRA_PROGRESS_SKIP_CHILD: {
        // The callback has just written the node's path into the source root.
        const DWORD attributes = GetFileAttributesW(job->szSourceRoot);
        const bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        return handler(directory ? WALK_ENTER_DIR : WALK_MEET_FILE, job, job->pTreeItem);
    }
    case KOVRA_PROGRESS_ABORT:
        return KOVRA_PROGRESS_ABORT;
    default:
        return answer; // the node and everything below it are left out
    }
}

int visit_children(KOVRA_JOB* job, HTREEITEM parent, WALK_HANDLER handler) {
    int result = 0;
    for (HTREEITEM child = next_item(job->hTreeWnd, parent, TVGN_CHILD); child;
         child = next_item(job->hTreeWnd, child, TVGN_NEXT)) {
        result = get_next_tree_node(job, child, handler);
        if (result == KOVRA_PROGRESS_ABORT)
            break;
    }
    return result;
}

} // namespace

int kovra_tree(KOVRA_JOB* job, WALK_HANDLER handler) {
    TVITEMW buffer{};
    job->pTreeItem = &buffer;
    int result = 0;
    HTREEITEM root = next_item(job->hTreeWnd, nullptr, TVGN_ROOT);
    if (root) {
        read_item(job, root);
        // The root item stands for the whole selection: only its children are visited, and further root items
        // are not.
        result = visit_children(job, root, handler);
    } else {
        trace(TRACE_WARNING, u"kovra_tree: the tree has no root item.\n");
    }
    job->pTreeItem = nullptr;
    return result;
}

int calc_tree_walk(KOVRA_JOB* job) {
    return kovra_tree(job, calc_tree_progress_callback);
}

int copy_tree_walk(KOVRA_JOB* job) {
    return kovra_tree(job, copy_tree_progress_callback);
}
