#include "apps/quillmere/run/pending_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apps/quillmere/base/interruption.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {


// Permissions a newly created file gets under the current umask.
mode_t CreationMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Part files are named ".NAME.part-XXXXXX", the X's filled by mkostemp.
constexpr const char* kPartFileTemplate = "XXXXXX";
constexpr std::size_t kPartFileSuffixLength = 6;

std::string PartFilePrefix(const std::string& name) { return "." + name + ".part-"; }

bool IsPartFileOf(const std::string& entry, const std::string& name) {
    const std::string prefix = PartFilePrefix(name);
    if (entry.size() != prefix.size() + kPartFileSuffixLength ||
        entry.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (std::size_t index = prefix.size(); index < entry.size(); ++index) {
        if (std::isalnum(static_cast<unsigned char>(entry[index])) == 0) {
            return false;
        }
    }
    return true;
}

// The open file is the one the path names now.
bool SameFile(int descriptor, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return fstat(descriptor, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// A run holds a lock on its part file for as long as it lives, so a part
// file of this output that nobody holds was left by a run that was killed
// (SIGKILL, a crash, a power cut) and is removed. A part file that is
// locked belongs to a run still writing the same output and stays.
void RemoveAbandonedParts(const std::string& folder, const std::string& name) {
    DIR* directory = opendir(folder.empty() ? "." : folder.c_str());
    if (directory == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(directory)) {
        if (!IsPartFileOf(entry->d_name, name)) {
            continue;
        }
        const std::string path = folder + entry->d_name;
        const int descriptor = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (descriptor < 0) {
            continue;
        }
        struct stat status {};
        if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
            flock(descriptor, LOCK_EX | LOCK_NB) == 0 && SameFile(descriptor, path)) {
            unlink(path.c_str());
        }
        close(descriptor);
    }
    closedir(directory);
}

// rename() that fails with EEXIST instead of replacing a file.
bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A file system without the flag: a hard link is just as exclusive.
    if (link(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    unlink(from.c_str());
    return true;
}

}  // namespace

PendingOutput::PendingOutput(const std::string& path) : path_(path) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        if (S_ISDIR(status.st_mode)) {
            throw RunnerError("cannot write " + Quoted(path) + ": Is a directory");
        }
        inPlace_ = true;
        writePath_ = path;
        return;
    }
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    RemoveAbandonedParts(folder, name);
    for (;;) {
        std::string pattern = folder + PartFilePrefix(name) + kPartFileTemplate;
        const int descriptor = mkostemp(pattern.data(), O_CLOEXEC);
        if (descriptor < 0) {
            throw RunnerError("cannot write " + Quoted(path) + ": " + std::strerror(errno));
        }
        // A file system without locks leaves the part file unlocked; the
        // run goes on all the same.
        while (flock(descriptor, LOCK_EX) != 0 && errno == EINTR) {
        }
        // Another run's clean-up may have taken the new file for an
        // abandoned one between its creation and the lock: then the name
        // no longer leads to this file, and a fresh one is made.
        if (SameFile(descriptor, pattern)) {
            fchmod(descriptor, CreationMode());
            lock_ = descriptor;
            writePath_ = pattern;
            break;
        }
        close(descriptor);
    }
    slot_ = RegisterPartFile(writePath_);
}

PendingOutput::~PendingOutput() {
    if (!committed_ && !inPlace_) {
        unlink(writePath_.c_str());
    }
    UnregisterPartFile(slot_);
    if (lock_ >= 0) {
        close(lock_);
    }
}

void PendingOutput::Commit(bool mayReplace) {
    if (inPlace_) {
        committed_ = true;
        return;
    }
    if (mayReplace) {
        if (std::rename(writePath_.c_str(), path_.c_str()) != 0) {
            throw RunnerError("cannot write " + Quoted(path_) + ": " + std::strerror(errno));
        }
    } else if (!RenameWithoutReplacing(writePath_, path_)) {
        if (errno == EEXIST) {
            throw RunnerError(Quoted(path_) +
                              " appeared while this run was writing it; kept it (add -y to "
                              "replace it)");
        }
        throw RunnerError("cannot write " + Quoted(path_) + ": " + std::strerror(errno));
    }
    committed_ = true;
}
