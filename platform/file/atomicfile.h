#pragma once

#include "platform/file/fileerror.h"

#include <cerrno>
#include <functional>
#include <string>
#include <string_view>

// Gives the new contents for the current ones; false (with LastFileError() set) refuses.
using FileChange = std::function<bool(std::string_view current, std::string& updated)>;

enum class MissingFile { Create, Fail };

// Rewrites the file that dosPath names (see drives.h) as change says, so that the file
// holds either its old or its new contents whatever happens, and never replaces any file
// but the one it read.
//
// The target is resolved once (ResolveFileTarget). Every writer of this program, whoever
// runs it, holds a lock (flock) on the file's directory from before the read to after the
// rename, and waits for it a few seconds at most (then Locked). The file is opened without
// following links; a file we may not write, or one with other hard links, is refused.
// Unchanged contents are not written. Otherwise a temporary file named like VRNL1A2B.TMP
// (it fits 8.3) is made beside the file, written, given its DOS attributes, owner, group
// and permission bits (a replacement that cannot keep the owner is refused: Owner),
// flushed, and put in place of the file when the name still leads to the very file read,
// unchanged; then the directory is flushed. When another program changed or replaced the
// file meanwhile, it is read and changed again, a few times at most (then Changed).
// A missing file is created (MissingFile::Create) or refused (Fail: Inspect, ENOENT).
// On failure the file is untouched, the temporary file is gone, and LastFileError() names
// the step that failed. Temporary files that a killed writer left in that directory are
// removed first; a live writer's (it holds a lock on its file until the rename) never are.
// On an image drive the file is rewritten as ImageDrive::rewrite says (imagedrive.h), and
// a missing file is never created.
bool RewriteFile(std::string_view dosPath, MissingFile missing, const FileChange& change);

// True when the file dosPath names may be replaced as RewriteFile would: it is a regular
// file reached inside its drive, has no other hard links, and a file this process makes
// can be given its owner and group. Otherwise false, with LastFileError() naming why
// (LinkOutside, HardLinked, Owner, or Inspect). On an image drive: the file is there and
// the image may be written now (ImageDrive::checkReplaceable). Changes nothing, so that a
// caller can ask before it changes anything else.
bool CheckReplaceable(std::string_view dosPath);

// Makes the given step of every following replace fail with code, for fault tests.
// FileStep::None turns it off. Steps: CreateTemporary, WriteTemporary, Attributes,
// FlushTemporary, Rename.
void FailAtomicStepForTesting(FileStep step, int code = EIO);

// Runs action in every following rewrite after the file was read and its replacement
// written, just before the check that the file is still the one read; an empty action
// turns it off. Tests act there as another program would.
void BeforeReplaceForTesting(std::function<void()> action);
