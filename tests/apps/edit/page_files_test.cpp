#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "apps/quillmere/edit/page_files.h"

namespace {

std::string TextOf(const EmbeddedFile& file) {
    return std::string(reinterpret_cast<const char*>(file.bytes), file.size);
}

// Every file the page names (src, href, import ... from) is built in: a
// name missing from the build would load nothing, silently.
TEST(PageFiles, EveryFileThePageNamesIsBuiltIn) {
    const std::regex reference(R"((?:src|href)="(/[^"]*)\"|from '\./([^']+)')");
    int references = 0;
    for (std::size_t index = 0; index < kPageFilesCount; ++index) {
        const std::string text = TextOf(kPageFiles[index]);
        for (std::sregex_iterator match(text.begin(), text.end(), reference), end;
             match != end; ++match) {
            const std::string path = (*match)[1].matched ? (*match)[1].str()
                                                         : "/" + (*match)[2].str();
            EXPECT_NE(FindPageFile(path), nullptr)
                << kPageFiles[index].path << " names " << path;
            ++references;
        }
    }
    EXPECT_GT(references, 5);
    ASSERT_NE(FindPageFile("/"), nullptr);
    EXPECT_STREQ(FindPageFile("/")->path, "/index.html");
    EXPECT_EQ(FindPageFile("/../index.html"), nullptr);
    EXPECT_EQ(FindPageFile("/index.html/"), nullptr);
}

// The server's policy (default-src 'self') lets no inline script, inline
// style or event-handler attribute run; the page must have none.
TEST(PageFiles, NothingInlineThatThePolicyWouldBlock) {
    const std::string page = TextOf(*FindPageFile("/index.html"));
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(<script(?![^>]*\bsrc=)[^>]*>)")));
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(<style\b)")));
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(\sstyle=)")));
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(\son[a-z]+=)")));
    EXPECT_FALSE(std::regex_search(page, std::regex(R"((?:src|href)="(?:https?:|//|data:))")));
}

TEST(PageFiles, EachIsServedAsItsKind) {
    const std::set<std::string> types = {"text/html; charset=utf-8", "text/css; charset=utf-8",
                                         "text/javascript; charset=utf-8", "image/svg+xml"};
    for (std::size_t index = 0; index < kPageFilesCount; ++index) {
        EXPECT_EQ(types.count(PageFileType(kPageFiles[index])), 1u) << kPageFiles[index].path;
        EXPECT_GT(kPageFiles[index].size, 0u) << kPageFiles[index].path;
    }
}

}  // namespace
