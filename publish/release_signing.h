#pragma once
// Signing the info file with the vendor's own minisign tool: the secret key
// never passes through this program, and minisign asks for its password
// itself when the key has one.

#include <cstdint>
#include <string>

// The trusted comment a release is signed with: minisign's own default form,
// "timestamp:SECONDS<TAB>file:NAME<TAB>hashed", written out so that the
// signing time a wizard with a key insists on is there whatever minisign's
// version. aName is the info file's name, its tabs and line breaks dropped.
std::string TimestampedComment(std::int64_t aSeconds, const std::string& aName);

// Runs "minisign -S -s aSecretKeyFile -m aFile -t COMMENT" with the
// TimestampedComment of this moment, which writes aFile.minisig. minisign's
// own output goes to standard error, so that standard output stays ours.
// Throws std::runtime_error when minisign is not installed or fails; the
// message says how to sign by hand.
void SignWithMinisign(const std::string& aSecretKeyFile, const std::string& aFile);

// The signature of aText, made through a private temporary file; throws as
// SignWithMinisign does.
std::string SignTextWithMinisign(const std::string& aSecretKeyFile, const std::string& aText);
