#include "copylib/Walk.h"

#include "copylib/FileSteps.h"
#include "copylib/KeptListings.h"
#include "copylib/ListingsAhead.h"
#include "copylib/Trace.h"
#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/files.h"
#include "platform/fs/wholefile.h"

#include <memory>
#include <string>
#include <vector>

namespace {

bool is_dot_entry(const WCHAR* name) {
    return name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0));
}

// A listed directory that is a link is not walked into: it may lead out of the tree or back into it.
bool entry_is_directory(const std::u16string& path, DWORD attributes) {
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return false;
    return !is_link(path.c_str());
}

} // namespace

int dir_walk_recurse(LPCWSTR directory, WALK_RECORD* walk, WALK_HANDLER handler, KOVRA_JOB* job, BOOL* cancel) {
    if (flag_is_set(cancel))
        return KOVRA_PROGRESS_ABORT;
    if (!copy_path(walk->szPath, directory))
        return 0;
    trace(TRACE_WALK, u"dir_walk_recurse: enter %s.\n", directory);
    int r = handler(WALK_ENTER_DIR, job, walk);
    if (r != KOVRA_PROGRESS_SKIP) {
        // Each level keeps its directory's prefix and the saved destination on the heap, so deep trees cost
        // little stack.
        std::u16string savedDest(walk->szLevelDest);
        int savedDestState = walk->nLevelDestState;
        ++walk->nLevel;
        std::u16string prefix(directory);
        if (prefix.empty() || prefix.back() != u'\\')
            prefix += u'\\';
        std::u16string pattern = prefix + u"*.*";
        std::vector<std::u16string> subdirectories;

        // The copy pass walks a folder it has just made at the destination from the calculation pass's listing
        // when the source folder has not changed since; otherwise, and in the calculation pass, it is listed.
        CKeptListings* kept = job ? job->pKeptListings : nullptr;
        const CKeptListings::Listing* replay = nullptr;
        if (kept && kept->Replaying() && walk->nLevelDestState == LEVEL_DEST_MADE)
            replay = kept->Find(directory);
        if (replay && job->pUnnamedFiles) {
            // The folder just made gets a file for each file of the listing (fewer are copied when the callback
            // or a pre-check leaves some out).
            size_t files = 0;
            for (const CKeptListings::Entry& entry : *replay)
                files += (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
            job->pUnnamedFiles->Stock(walk->szLevelDest, files);
        }
        const bool keeping = kept && !kept->Replaying();
        // The calculation pass takes a folder's listing from the helpers that read ahead, when the folder still
        // reads as it did just before they listed it; otherwise it lists the folder itself.
        CListingsAhead* ahead = job && !(kept && kept->Replaying()) ? job->pListingsAhead : nullptr;
        std::unique_ptr<CListingsAhead::Listing> readAhead;

        // Owned, so that the listing is closed also when an exception (memory running out) leaves the walk.
        platform::UniqueHandle<HANDLE, &FindClose> find;
        size_t next = 0;
        // The next entry of a listing held in memory (kept, or read ahead); false past its end.
        const auto nextHeld = [&] {
            if (replay) {
                if (next >= replay->size())
                    return false;
                (*replay)[next++].ToFindData(walk->FindData);
                return true;
            }
            if (next >= readAhead->entries.size())
                return false;
            walk->FindData = readAhead->entries[next++];
            return true;
        };
        if (replay) {
            walk->bMore = nextHeld();
        } else {
            if (keeping)
                kept->StartListing(directory);
            if (ahead && (readAhead = ahead->Take(directory))) {
                WIN32_FILE_ATTRIBUTE_DATA now;
                const WIN32_FILE_ATTRIBUTE_DATA* stamp = keeping ? kept->CurrentStamp() : nullptr;
                if (!stamp && CKeptListings::StampOf(directory, now))
                    stamp = &now;
                if (!stamp || !CKeptListings::SameStamp(*stamp, readAhead->stamp))
                    readAhead.reset();
            }
            if (readAhead) {
                walk->bMore = nextHeld();
            } else {
                find.reset(FindFirstFileW(pattern.c_str(), &walk->FindData));
                walk->bMore = find.valid();
            }
        }
        walk->bListedNow = replay == nullptr;
        std::u16string child;
        while (walk->bMore && !flag_is_set(cancel) && r != KOVRA_PROGRESS_ABORT) {
            const WCHAR* name = walk->FindData.cFileName;
            // Only "." and ".." are skipped: on this file system a name ending in '.' is an ordinary directory.
            if (!is_dot_entry(name)) {
                if (keeping && !replay)
                    kept->Add(walk->FindData);
                child.assign(prefix);
                child += name;
                walk->bIsDirectory = entry_is_directory(child, walk->FindData.dwFileAttributes);
                if (child.size() >= static_cast<size_t>(KOVRA_PATH_CHARS)) {
                    copy_path(walk->szPath, directory);
                    r = handler(WALK_MEET_LONG_PATH, job, walk);
                } else if (!walk->bIsDirectory || walk->nRecurse == 0) {
                    copy_path(walk->szPath, child.c_str());
                    r = handler(WALK_MEET_FILE, job, walk);
                } else {
                    // Subdirectories are walked after all files of this directory, in the order listed. One
                    // listing serves both groups.
                    subdirectories.emplace_back(name);
                }
            }
            walk->bMore = replay || readAhead ? nextHeld() : FindNextFileW(find.get(), &walk->FindData) != FALSE;
        }
        if (keeping && !replay)
            kept->EndListing(readAhead ? !walk->bMore
                                       : find.valid() && !walk->bMore && GetLastError() == ERROR_NO_MORE_FILES);
        find.reset();
        if (ahead && !readAhead) {
            // Listed here: the helpers go on below it.
            std::vector<std::u16string> paths;
            paths.reserve(subdirectories.size());
            for (const std::u16string& name : subdirectories)
                paths.push_back(prefix + name);
            ahead->Listed(directory, paths);
        }

        if (walk->nRecurse == 1) {
            for (const std::u16string& name : subdirectories) {
                if (flag_is_set(cancel) || r == KOVRA_PROGRESS_ABORT)
                    break;
                child.assign(prefix);
                child += name;
                r = dir_walk_recurse(child.c_str(), walk, handler, job, cancel);
            }
        }
        --walk->nLevel;
        copy_path(walk->szLevelDest, savedDest.c_str());
        walk->nLevelDestState = savedDestState;
    }
    copy_path(walk->szPath, directory);
    handler(WALK_LEAVE_DIR, job, walk);
    return (flag_is_set(cancel) || r == KOVRA_PROGRESS_ABORT) ? KOVRA_PROGRESS_ABORT : 0;
}

int start_dir_walk(LPCWSTR directory, WALK_HANDLER handler, KOVRA_JOB* job, BOOL* cancel) {
    if (job && job->pListingsAhead)
        job->pListingsAhead->Start();
    auto walk = std::make_unique<WALK_RECORD>();
    walk->nLevel = -1;
    walk->nRecurse = 1;
    return dir_walk_recurse(directory, walk.get(), handler, job, cancel);
}

namespace {

using FileStep = int (*)(KOVRA_JOB*, const FILE_HINT*);

// A file whose path (or the destination built for it) does not fit the path buffers is reported to the callback
// with ERROR_FILENAME_EXCED_RANGE as that file's code, in place of the events of a measurement or copy.
int report_long_path(KOVRA_JOB* job, bool copyPass) {
    if (!copyPass)
        return notify(job, KOVRA_CALC_FILE_END, ERROR_FILENAME_EXCED_RANGE, job->szFileSource, nullptr);
    ++job->Progress.dwFailedFiles;
    int answer = notify(job, KOVRA_FILE_COPY_COMPLETE, ERROR_FILENAME_EXCED_RANGE, job->szFileSource, job->szDirDest);
    if (answer != KOVRA_PROGRESS_ABORT)
        ++job->Progress.dwSkippedFiles;
    return answer;
}

int walk_file(KOVRA_JOB* job, WALK_RECORD* walk, FileStep step, bool copyPass) {
    if (job->dwFlags & KOVRA_JOB_SKIP_HIDDEN) {
        // An entry listed just now says whether it is hidden; one from a kept listing is looked at again, and the
        // hint carries what was found, so that the file's step need not ask once more.
        DWORD attributes = walk->FindData.dwFileAttributes;
        if (!walk->bListedNow) {
            attributes = GetFileAttributesW(walk->szPath);
            if (attributes != INVALID_FILE_ATTRIBUTES)
                walk->FindData.dwFileAttributes = attributes;
        }
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_HIDDEN))
            return KOVRA_PROGRESS_SKIP;
    }
    copy_path(job->szFileSource, walk->szPath);
    const WCHAR* slash = wcsrchr(walk->szPath, u'\\');
    const WCHAR* lastComponent = slash ? slash + 1 : walk->szPath;
    std::u16string destination(job->szDirDest);
    if (destination.empty() || destination.back() != u'\\')
        destination += u'\\';
    destination += lastComponent;
    if (!copy_path(job->szFileDest, destination.c_str()))
        return report_long_path(job, copyPass);
    FILE_HINT hint;
    hint.pSource = &walk->FindData;
    hint.bDestinationAbsent = walk->nLevelDestState == LEVEL_DEST_ABSENT || walk->nLevelDestState == LEVEL_DEST_MADE;
    hint.bDestinationFolderReady =
        walk->nLevelDestState == LEVEL_DEST_MADE || walk->nLevelDestState == LEVEL_DEST_EXISTS;
    return step(job, &hint);
}

int walk_long_path(KOVRA_JOB* job, WALK_RECORD* walk, bool copyPass) {
    // The file source names the directory that holds the entry: the nearest path that fits.
    copy_path(job->szFileSource, walk->szPath);
    trace(TRACE_WARNING, u"dir_walk_recurse: path of %s in %s is too long.\n", walk->FindData.cFileName, walk->szPath);
    return report_long_path(job, copyPass);
}

void count_dir(KOVRA_JOB* job, bool copyPass, DWORD count) {
    if (copyPass) {
        job->Progress.dwTotalDirsCopied += count;
        return;
    }
    job->Progress.dwTotalDirs += count;
    job->Progress.dwEstimatedDirs += count;
}

int enter_dir(KOVRA_JOB* job, WALK_RECORD* walk, bool copyPass) {
    if (skip_directory(job->dwFlags, walk->szPath))
        return KOVRA_PROGRESS_SKIP;
    if (lstrcmpW(walk->szPath, job->szSourceRoot) != 0)
        count_dir(job, copyPass, 1);
    copy_path(job->szDirSource, walk->szPath);
    copy_path(job->szDirDest, job->szDestRoot);
    trace(TRACE_DIRECTORY, u"enter directory %s.\n", job->szDirSource);
    int answer =
        notify(job, copyPass ? KOVRA_COPY_ENTER_DIR : KOVRA_CALC_ENTER_DIR, 0, job->szDirSource, job->szDirDest);
    if (copyPass) {
        // The destination directory is made whatever the answer; an enter answered 1 leaves it empty.
        copy_path(walk->szLevelDest, job->szDirDest);
        DWORD made = build_directory(job->szDirDest);
        walk->nLevelDestState = made == 0                      ? LEVEL_DEST_MADE
                                : made == ERROR_ALREADY_EXISTS ? LEVEL_DEST_EXISTS
                                                               : LEVEL_DEST_UNKNOWN;
    } else {
        // A destination folder that is not there, on drives that are, holds none of the files of this directory.
        walk->nLevelDestState = LEVEL_DEST_UNKNOWN;
        if (GetFileAttributesW(job->szDirDest) == INVALID_FILE_ATTRIBUTES) {
            DWORD error = GetLastError();
            if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) && drive_exists(job->szDirDest) &&
                drive_exists(walk->szPath))
                walk->nLevelDestState = LEVEL_DEST_ABSENT;
        }
    }
    return answer;
}

} // namespace

int calc_dir_callback(int type, KOVRA_JOB* job, void* data) {
    auto* walk = static_cast<WALK_RECORD*>(data);
    switch (type) {
    case WALK_ENTER_DIR:
        return enter_dir(job, walk, false);
    case WALK_MEET_FILE:
        return walk_file(job, walk, calc_file, false);
    case WALK_MEET_LONG_PATH:
        return walk_long_path(job, walk, false);
    default:
        return 0;
    }
}

int copy_dir_callback(int type, KOVRA_JOB* job, void* data) {
    auto* walk = static_cast<WALK_RECORD*>(data);
    switch (type) {
    case WALK_ENTER_DIR:
        return enter_dir(job, walk, true);
    case WALK_LEAVE_DIR:
        copy_dir_times(walk->szPath, walk->szLevelDest);
        return 0;
    case WALK_MEET_FILE:
        return walk_file(job, walk, copy_file, true);
    case WALK_MEET_LONG_PATH:
        return walk_long_path(job, walk, true);
    default:
        return 0;
    }
}

namespace {

int tree_node(int type, KOVRA_JOB* job, bool copyPass) {
    switch (type) {
    case WALK_MEET_NODE:
        copy_path(job->szFileDest, job->szDestRoot);
        trace(TRACE_TREE, u"tree node %s.\n", job->szSourceRoot);
        return notify(job, copyPass ? KOVRA_COPY_NODE : KOVRA_CALC_NODE, 0, job->szSourceRoot, job->szFileDest);
    case WALK_MEET_FILE:
        if (job->dwFlags & KOVRA_JOB_SKIP_HIDDEN) {
            DWORD attributes = GetFileAttributesW(job->szSourceRoot);
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_HIDDEN))
                return KOVRA_PROGRESS_SKIP;
        }
        copy_path(job->szFileSource, job->szSourceRoot);
        return copyPass ? copy_file(job) : calc_file(job);
    case WALK_ENTER_DIR: {
        if (skip_directory(job->dwFlags, job->szSourceRoot))
            return KOVRA_PROGRESS_SKIP;
        // The walk of a whole directory node does not count the node itself (it is the walk's root). The first
        // such node is counted once a second one follows, and each later one counts itself.
        int& marker = copyPass ? job->nCopyFirstDir : job->nCalcFirstDir;
        if (marker == -1) {
            marker = 1;
        } else {
            count_dir(job, copyPass, static_cast<DWORD>(marker + 1));
            if (marker == 1)
                marker = 0;
        }
        return start_dir_walk(job->szSourceRoot, copyPass ? copy_dir_callback : calc_dir_callback, job, &job->bCancel);
    }
    default:
        return 0;
    }
}

} // namespace

int calc_tree_progress_callback(int type, KOVRA_JOB* job, void*) {
    return tree_node(type, job, false);
}

int copy_tree_progress_callback(int type, KOVRA_JOB* job, void*) {
    return tree_node(type, job, true);
}
