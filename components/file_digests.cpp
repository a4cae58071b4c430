#include "components/file_digests.h"
#include "components/file_blocks.h"

TFileDigestTexts FileDigestTexts(const std::string& aFileName)
{
    TFileDigests digests;
    ReadFileBlocks(aFileName, [&digests](const std::uint8_t* aData, std::size_t aSize) {
        digests.Update(aData, aSize);
    });
    return digests.Final();
}

TFileDigestTexts DescriptorDigestTexts(int aFd, const std::string& aName)
{
    TFileDigests digests;
    ReadDescriptorBlocks(aFd, aName, [&digests](const std::uint8_t* aData, std::size_t aSize) {
        digests.Update(aData, aSize);
    });
    return digests.Final();
}
