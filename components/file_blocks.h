#pragma once
// Reads a file from start to end in blocks of kHashReadBlockSize, for the
// digests that check downloaded files.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Hands each block to aSink in order. Throws std::system_error("cannot open
// FILE: reason") when the file cannot be opened or is a folder. A read that
// fails part-way ends the file there: the digests then mismatch, which is the
// verdict a damaged file deserves.
void ReadFileBlocks(const std::string& aFileName,
                    const std::function<void(const std::uint8_t* aData, std::size_t aSize)>& aSink);

// The same for an open file, from its current position; aName names it in an
// error. The descriptor stays open.
void ReadDescriptorBlocks(int aFd, const std::string& aName,
                          const std::function<void(const std::uint8_t* aData, std::size_t aSize)>& aSink);
