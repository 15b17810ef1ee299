#pragma once

#include "platform/fileerror.h"

#include <cerrno>
#include <string>
#include <string_view>

// Replaces the file at hostPath (a host path, not a DOS one) with bytes, so that the
// file holds either its old or its new contents whatever happens. A temporary file
// named like VRNL1A2B.TMP (it fits 8.3) is written beside the target, flushed, given
// the target's permission bits, owner and DOS attributes, and renamed over it; then
// the directory is flushed. A symlink stays a symlink: the file it leads to is
// replaced. A missing target is created. On failure the target is untouched, the
// temporary file is gone, and LastFileError() names the step that failed.
// Temporary files that a writer killed part-way left in that directory are removed
// first; a live writer's (it holds a lock on its file until the rename) never are.
bool ReplaceFileAtomically(const std::string& hostPath, std::string_view bytes);

// Makes the given step of every following replace fail with code, for fault tests.
// FileStep::None turns it off. Steps: CreateTemporary, WriteTemporary, Attributes,
// FlushTemporary, Rename.
void FailAtomicStepForTesting(FileStep step, int code = EIO);
