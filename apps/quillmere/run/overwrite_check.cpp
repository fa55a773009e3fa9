#include "apps/quillmere/run/overwrite_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

bool AskToOverwrite(const std::string& path, std::FILE* question, std::FILE* answer) {
    std::fprintf(question, "quillmere: %s already exists. Overwrite? [y/N] ",
                 Quoted(path).c_str());
    std::fflush(question);
    char line[64] = {};
    if (std::fgets(line, sizeof line, answer) == nullptr) {
        std::fputc('\n', question);
        return false;
    }
    std::string word;
    for (const char* c = line; *c != '\0' && *c != '\n'; ++c) {
        if (std::isspace(static_cast<unsigned char>(*c)) == 0) {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        }
    }
    return word == "y" || word == "yes";
}

bool ConfirmOverwrite(const std::string& path, OverwritePolicy policy) {
    if (policy == OverwritePolicy::Always) {
        return true;
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        // Nothing to replace now; should a file turn up meanwhile, it stays.
        return false;
    }
    if (policy == OverwritePolicy::Never) {
        throw RunnerError(Quoted(path) + " already exists; not overwritten (-n)");
    }
    if (isatty(STDIN_FILENO) != 1) {
        throw RunnerError(Quoted(path) +
                          " already exists; add -y to overwrite it (no terminal to ask on)");
    }
    if (!AskToOverwrite(path, stderr, stdin)) {
        throw RunnerError(Quoted(path) + " already exists; not overwritten");
    }
    return true;
}
