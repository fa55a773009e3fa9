#include "source/preset_file_chooser.h"

#include <cstring>
#include <sys/stat.h>
#include <utility>

namespace {

// The platform's flag for "the folder of the typed name must exist".
constexpr DWORD kPathMustExist = 0x00000800;

bool FolderExists(const std::string& path) {
    const std::string::size_type slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat status;
    return ::stat(folder.c_str(), &status) == 0 && (status.st_mode & S_IFDIR) != 0;
}

}  // namespace

void PresetFileChooser::AnswerWith(std::string path) {
    path_ = std::move(path);
    confirm_ = true;
}

void PresetFileChooser::Cancel() { confirm_ = false; }

BOOL PresetFileChooser::GetOpenFileName(OpenFileRequest* request) {
    ++requestCount_;
    lastRequest_ = *request;
    initialName_.clear();
    if (request->lpstrFile != nullptr) {
        initialName_.assign(request->lpstrFile,
                            strnlen(request->lpstrFile, request->nMaxFile));
    }
    if (!confirm_ || request->lpstrFile == nullptr || path_.size() + 1 > request->nMaxFile) {
        return 0;
    }
    if ((request->Flags & kPathMustExist) != 0 && !FolderExists(path_)) {
        return 0;
    }
    std::memcpy(request->lpstrFile, path_.c_str(), path_.size() + 1);
    return 1;
}
