#pragma once
// The vendor's minisign public key line, built in with the CMake cache
// variable DOWNLOADER_PUBLIC_KEY; empty when releases are not signed.

#include <string>

std::string BuiltInPublicKey();
