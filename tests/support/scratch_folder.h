#pragma once
// Scratch space for one test. ScratchFolder is a fresh folder of its own under
// ::testing::TempDir(), named after the running test and removed with all it
// holds when the object goes, also when the test took rights away from some
// of it. ScratchHome adds a private home in such a folder and points the
// environment at it, so that no test reads or writes the real user's files.

#include <filesystem>

class ScratchFolder {
public:
    ScratchFolder();  // throws std::system_error when it cannot be made
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return mPath; }

private:
    std::filesystem::path mPath;
};

// HOME is Home(), XDG_CONFIG_HOME (the settings file) Config(), and
// XDG_RUNTIME_DIR (the private temporary folder, mode 0700) Runtime();
// XDG_CACHE_HOME, XDG_DATA_HOME and DBUS_SESSION_BUS_ADDRESS are unset. The
// environment is process-wide: make one before any thread of the test starts.
class ScratchHome {
public:
    ScratchHome();

    const std::filesystem::path& Root() const { return mFolder.Path(); }
    std::filesystem::path Home() const { return Root() / "home"; }
    std::filesystem::path Config() const { return Root() / "config"; }
    std::filesystem::path Runtime() const { return Root() / "runtime"; }

private:
    ScratchFolder mFolder;
};
