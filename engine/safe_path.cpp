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

// Whether a component of aName below aFolder is a symbolic link, or cannot
// be looked at (which the resolved forms then have to settle).
bool HasLinkOnTheWay(const std::string& aFolder, const fs::path& aName)
{
    fs::path path(aFolder);
    for (const auto& part : aName) {
        path /= part;
        std::error_code error;
        const fs::file_status status = fs::symlink_status(path, error);
        if (status.type() == fs::file_type::not_found)
            return false;  // nothing further down exists either
        if (error || fs::is_symlink(status))
            return true;
    }
    return false;
}

// The destination may be the home folder itself, where ".bashrc" or
// ".ssh/authorized_keys" would be the user's own configuration; no release
// needs a hidden file or folder. "." and ".." start with a dot too.
bool HasHiddenComponent(const fs::path& aName)
{
    for (const auto& part : aName)
        if (part.native().starts_with('.'))
            return true;
    return false;
}

}  // namespace

bool IsPlainFileName(const std::string& aName)
{
    return !aName.empty() && !aName.starts_with('.') && aName.find('/') == std::string::npos
           && !HasControlCharacter(aName);
}

std::optional<std::string> JoinInside(const std::string& aFolder, const std::string& aName)
{
    // A control character in a name would reach every terminal and log that
    // shows it, and no release needs one.
    if (aName.empty() || aName.front() == '/' || HasControlCharacter(aName))
        return std::nullopt;
    const fs::path name(aName);
    if (HasHiddenComponent(name))
        return std::nullopt;

    std::string joined = aFolder;
    if (joined.empty() || joined.back() != '/')
        joined += '/';
    joined += aName;

    // Links inside the folder may lead out of it. Without one on the way the
    // joined name is inside as it stands: a release of many small files
    // would otherwise resolve the whole folder path twice for each.
    if (!HasLinkOnTheWay(aFolder, name))
        return joined;
    // Compare the resolved forms.
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

std::string RefusedNameReason(const std::string& aName)
{
    if (HasControlCharacter(aName))
        return "it holds a control character";
    const fs::path name(aName);
    for (const auto& part : name)
        if (part != "." && part != ".." && part.native().starts_with('.'))
            return "it names a hidden file or folder";
    return "it leads outside the destination folder";
}
