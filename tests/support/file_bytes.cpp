#include "tests/support/file_bytes.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

std::string ReadFileBytes(const std::filesystem::path& aPath)
{
    std::ifstream in(aPath, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const std::filesystem::path& aPath, const std::string& aBytes)
{
    std::ofstream out(aPath, std::ios::binary | std::ios::trunc);
    out.write(aBytes.data(), static_cast<std::streamsize>(aBytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + aPath.string());
}
