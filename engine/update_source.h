#pragma once
// Where a newer wizard may come from when no vendor key is built in: nothing
// signs it then, so only transfers nobody on the path could have changed
// will do.

#include <string>

// True when a wizard without a vendor key may fetch and start the newer
// wizard at aWizardAddress that the info file fetched from aInfoAddress
// offers. Each address counts as safe when it is https (curl verifies the
// server's certificate) or a local file (a path or a file:// address); plain
// http, ftp and anything else do not. A local wizard is allowed only from a
// local info file: a server must not pick a file on this machine to run.
// Blanks and control characters at either end of an address are dropped.
bool UnsignedUpdateAllowed(const std::string& aInfoAddress, const std::string& aWizardAddress);
