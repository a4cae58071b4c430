#include "engine/safe_path.h"

#include <filesystem>
#include <system_error>

#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

bool IsInside(const fs::path& aRoot, const fs::path& aPath)
{
    auto root = aRoot.begin();
    auto path = aPath.begin();
    for (; root != aRoot.end(); ++root, ++path) {
        if (root->empty())  // the trailing "" of a folder written with "/"
            continue;
        if (path == aPath.end() || *root != *path)
            return false;
    }
    return true;
}

}  // namespace

bool IsPlainFileName(const std::string& aName)
{
    return !aName.empty() && aName != "." && aName != ".." && aName.find('/') == std::string::npos
           && !HasControlCharacter(aName);
}

std::optional<std::string> JoinInside(const std::string& aFolder, const std::string& aName)
{
    // A control character in a name would reach every terminal and log that
    // shows it, and no release needs one.
    if (aName.empty() || aName.front() == '/' || HasControlCharacter(aName))
        return std::nullopt;
    const fs::path name(aName);
    for (const auto& part : name)
        if (part == "." || part == "..")
            return std::nullopt;

    std::string joined = aFolder;
    if (joined.empty() || joined.back() != '/')
        joined += '/';
    joined += aName;

    // Links inside the folder may lead out of it; compare the resolved forms.
    std::error_code error;
    const fs::path root = fs::weakly_canonical(fs::path(aFolder), error);
    if (error)
        return std::nullopt;
    const fs::path resolved = fs::weakly_canonical(fs::path(joined), error);
    if (error || !IsInside(root, resolved) || resolved == root)
        return std::nullopt;
    return joined;
}

std::string LocalFileName(const std::string& aListedName)
{
    std::string name = aListedName;
    for (char& c : name)
        if (c == '\\')
            c = '/';
    return name;
}
