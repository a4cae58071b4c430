#pragma once
// Signing the info file with the vendor's own minisign tool: the secret key
// never passes through this program, and minisign asks for its password
// itself when the key has one.

#include <string>

// Runs "minisign -S -s aSecretKeyFile -m aFile", which writes aFile.minisig.
// minisign's own output goes to standard error, so that standard output
// stays ours. Throws std::runtime_error when minisign is not installed or
// fails; the message says how to sign by hand.
void SignWithMinisign(const std::string& aSecretKeyFile, const std::string& aFile);

// The signature of aText, made through a private temporary file; throws as
// SignWithMinisign does.
std::string SignTextWithMinisign(const std::string& aSecretKeyFile, const std::string& aText);
