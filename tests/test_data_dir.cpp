// test_data_dir.cpp -- the data search: what makes a data folder, and the
// one line that names the places looked at when none is one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "shell/data_dir.h"

namespace fs = std::filesystem;

namespace {

// A fresh empty folder, made the working directory for the test's length;
// the working directory and $TESSERA_DATA_DIR are put back afterwards.
class DataSearch : public ::testing::Test {
protected:
    void SetUp() override {
        before = fs::current_path();
        const char* variable = std::getenv("TESSERA_DATA_DIR");
        hadVariable = variable != nullptr;
        if (variable) oldVariable = variable;
        char name[] = "/tmp/tessera_data_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(before);
        fs::remove_all(dir);
        if (hadVariable) setenv("TESSERA_DATA_DIR", oldVariable.c_str(), 1);
        else unsetenv("TESSERA_DATA_DIR");
    }
    // What the search says with $TESSERA_DATA_DIR set to `variable`, no
    // build tree and an installed place that does not exist.
    std::string searchWith(const std::string& variable) {
        setenv("TESSERA_DATA_DIR", variable.c_str(), 1);
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(enterDataDir("tessera", nullptr, nullptr, "no-such-installed-place"));
        return ::testing::internal::GetCapturedStderr();
    }
    fs::path before, dir;
    bool hadVariable = false;
    std::string oldVariable;
};

}  // namespace

// Paths that hold ", ", quotes, backslashes or control characters stay one
// unambiguous line: each place in double quotes, escaped.
TEST_F(DataSearch, PlacesAreQuotedOnOneLine) {
    const struct {
        std::string variable, shown;
    } cases[] = {
        {"/no/such\nplace", "\"/no/such\\nplace\""},
        {"/one, two", "\"/one, two\""},
        {"/a\"quote\\and backslash", "\"/a\\\"quote\\\\and backslash\""},
        {"/a\ttab", "\"/a\\x09tab\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::string said = searchWith(c.variable);
        EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
        EXPECT_EQ(said.rfind("tessera: no music/mix.mp3 and textures/ in any of: \"" + dir.string() + "\", " + c.shown +
                                 ", \"",
                             0),
                  0u)
            << said;
        EXPECT_EQ(fs::current_path(), dir) << "a failed search changes no directory";
    }
}

// The music alone does not make a data folder: textures/ must be there too
// (a picture missing from it only leaves its effect untextured).
TEST_F(DataSearch, AFolderWithoutTexturesIsNoDataFolder) {
    fs::create_directory(dir / "music");
    std::ofstream(dir / "music" / "mix.mp3") << "not checked here";
    bool denied = true;
    EXPECT_FALSE(holdsDemoData(dir.string(), &denied));
    EXPECT_FALSE(denied);
    fs::create_directory(dir / "textures");
    EXPECT_TRUE(holdsDemoData(dir.string(), &denied));
    fs::remove(dir / "music" / "mix.mp3");
    fs::create_directory(dir / "music" / "mix.mp3");  // a folder by the music's name is not the music
    EXPECT_FALSE(holdsDemoData(dir.string()));
}
