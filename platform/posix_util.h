#pragma once
// Small pieces the platform layer shares: environment lookups that follow the
// XDG base directory rules, and a file descriptor owner.

#include <filesystem>
#include <string>
#include <system_error>

// The variable's value; "" when it is unset.
std::string EnvText(const char* aName);

// $HOME, or the password database's home folder when HOME is unset or empty.
// No trailing "/" (unless it is "/"). "" when neither knows one.
std::string HomeFolder();

// $VARIABLE when it holds an absolute path (the XDG rule: relative values are
// ignored), else HomeFolder() + "/" + aFallback.
std::filesystem::path XdgBaseFolder(const char* aVariable, const char* aFallback);

// Creates aFolder and its missing parents with aMode. Throws std::system_error
// ("cannot create folder PATH: reason").
void CreateFolders(const std::filesystem::path& aFolder, unsigned aMode);

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int aFd) : mFd(aFd) {}
    UniqueFd(UniqueFd&& aOther) noexcept : mFd(aOther.Release()) {}
    UniqueFd& operator=(UniqueFd&& aOther) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int Get() const { return mFd; }
    explicit operator bool() const { return mFd >= 0; }
    int Release() noexcept;
    // Closes now and reports the result: for written files a late write error
    // shows up here.
    bool Close() noexcept;

private:
    int mFd = -1;
};
