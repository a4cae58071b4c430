#pragma once
// Writing the info file to the file named with -o.

#include <string>
#include <string_view>

// The file that writing to aPath changes: the target of a symbolic link at
// aPath, else aPath itself.
std::string ResolveOutputPath(const std::string& aPath);

// Writes aText to aPath. A regular file (or a new one) is written aside in
// its folder and moved into place, so that a reader sees the old or the new
// text, never a part; it keeps the old file's permission bits, a new one gets
// 0644 less the umask. A link at aPath is followed and stays a link. A FIFO or
// device is written directly. Throws std::system_error ("cannot write ...");
// after a failure a regular file holds its old text and no temporary is left.
// Reads the umask by setting it: not while other threads create files.
void WriteOutputFile(const std::string& aPath, std::string_view aText);
