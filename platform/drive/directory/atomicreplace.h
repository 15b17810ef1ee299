#pragma once

#include "platform/drive/directory/filetarget.h"
#include "platform/drive/drive.h"
#include "platform/sys/fileerror.h"

#include <cerrno>
#include <functional>

// Replaces the existing file target names as change says, so that the file holds either
// its old or its new contents whatever happens, and never replaces any file but the one
// it read.
//
// Every writer of this program, whoever runs it, holds a lock (flock) on the file's
// directory from before the read to after the rename, and waits for it a few seconds at
// most (then Locked). The file is opened without following links; a missing file
// (Inspect, ENOENT), a file we may not write, or one with other hard links, is refused.
// Unchanged contents are not written. Otherwise a temporary file (TemporaryName) is made
// beside the file, written, given its DOS attributes, owner, group and permission bits
// (a replacement that cannot keep the owner is refused: Owner), flushed, and put in place
// of the file when the name still leads to the very file read, unchanged; then the
// directory is flushed. When another program changed or replaced the file meanwhile, it
// is read and changed again, a few times at most (then Changed). On failure the file is
// untouched, the temporary file is gone, and LastFileError() names the step that failed.
// Temporary files that a killed writer left in that directory are removed first; a live
// writer's (it holds a lock on its file until the rename) never are.
bool ReplaceTarget(const FileTarget& target, const FileChange& change);

// True when the file target names may be replaced as ReplaceTarget would: it is a regular
// file, has no other hard links, and a file this process makes can be given its owner and
// group. Otherwise false, with LastFileError() naming why (HardLinked, Owner, or Inspect).
bool CheckTargetReplaceable(const FileTarget& target);

// Makes the given step of every following replace fail with code, for fault tests.
// FileStep::None turns it off. Steps: CreateTemporary, WriteTemporary, Attributes,
// FlushTemporary, Rename.
void FailAtomicStepForTesting(FileStep step, int code = EIO);

// Runs action in every following replace after the file was read and its replacement
// written, just before the check that the file is still the one read; an empty action
// turns it off. Tests act there as another program would.
void BeforeReplaceForTesting(std::function<void()> action);
