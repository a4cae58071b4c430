#pragma once
// The local files a transfer deals with: a file:// source, and the target of
// an action that brings no opener of its own.

#include <string>

#include "platform/file_handles.h"

// Whether a local path names a regular file (links followed). One that does
// not exist passes; curl reports it.
bool IsRegularLocalFile(const std::string& aPath);

// Whether a path reaches the open file, through a link or not. A path that
// cannot be examined (missing, say) is another file.
bool IsSameFile(const std::string& aPath, int aFd);

// The target of an action without an opener of its own: Filename in its
// folder, not followed when it is a link.
UniqueFd OpenFilename(const std::string& aFilename);
