#include "components/file_digests.h"
#include "components/file_blocks.h"

TFileDigestTexts FileDigestTexts(const std::string& aFileName, bool aWithSha256)
{
    TFileDigests digests(aWithSha256);
    ReadFileBlocks(aFileName, [&digests](const std::uint8_t* aData, std::size_t aSize) {
        digests.Update(aData, aSize);
    });
    return digests.Final();
}

TFileDigestTexts DescriptorDigestTexts(int aFd, const std::string& aName, bool aWithSha256)
{
    TFileDigests digests(aWithSha256);
    ReadDescriptorBlocks(aFd, aName, [&digests](const std::uint8_t* aData, std::size_t aSize) {
        digests.Update(aData, aSize);
    });
    return digests.Final();
}
