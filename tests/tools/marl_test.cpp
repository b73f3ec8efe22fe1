// The marl tool end to end: each command's output and exit status on good, broken and
// missing input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "marllib_version.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class MarlTool : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/marl-tool-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string File(const std::string& name, const std::string& bytes) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Runs marl with the arguments (already quoted for the shell) and the given input.
    Outcome Marl(const std::string& args, const std::string& input = "") {
        const std::string in = File("stdin", input);
        const std::string command = std::string("'") + MARL_TOOL + "' " + args + " <'" + in +
                                    "' >'" + dir + "/out' 2>'" + dir + "/err'";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir + "/out"), Slurp(dir + "/err")};
    }

    std::string dir;
};

const std::string kNested =
    "<server>\n  <host=\"example.org\">\n  <users>\n    <user=\"ada\">\n  </>\n  <debug/>\n</>\n";

TEST_F(MarlTool, PrintWritesTheDocumentFromAFileOrStandardInput) {
    const std::string messy = "  <a>\r\n<b=\"x\"\"y\"><c/>junk</>\n";
    const std::string expected = "<a>\n  <b=\"x\"\"y\">\n  <c/>\n</>\n";
    const Outcome fromFile = Marl("print '" + File("messy.marl", messy) + "'");
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_EQ(fromFile.out, expected);
    EXPECT_EQ(Marl("print", messy).out, expected);
    EXPECT_EQ(Marl("print -", messy).out, expected);
    EXPECT_EQ(Marl("print", "").out, "");
}

TEST_F(MarlTool, GetPrintsValuesAndContainers) {
    const std::string path = File("nested.marl", kNested);
    const Outcome value = Marl("get '" + path + "' server/users/user");
    EXPECT_EQ(value.status, 0);
    EXPECT_EQ(value.out, "ada");
    EXPECT_EQ(Marl("get '" + path + "' server/debug").out, "");
    EXPECT_EQ(Marl("get '" + path + "' server/users").out, "<users>\n  <user=\"ada\">\n</>\n");
    for (const char* missing : {"server/nope", "server/host/deeper", "", "server//host"}) {
        const Outcome run = Marl("get '" + path + "' '" + missing + "'");
        EXPECT_EQ(run.status, 1) << missing;
        EXPECT_EQ(run.err, "marl: no tag '" + std::string(missing) + "' in " + path + "\n");
    }
}

TEST_F(MarlTool, CheckReportsEachProblemWithItsPlace) {
    struct Case {
        std::string text;
        int status;
        std::string report;  // with F standing for the file's name
    };
    const Case cases[] = {
        {kNested, 0, ""},
        {"</>\n<a/>\n", 0, "F:1:1: warning: '</>' closes no open container\n"},
        {"<a>\n  <b>\n", 0,
         "F:2:3: warning: container 'b' is never closed\nF:1:1: warning: container 'a' is never closed\n"},
        {"</x>\n<a/>\n", 1, "F:1:1: error: '</' is not followed by '>'\n"},
        {"<a/x>\n", 1, "F:1:1: error: '/' after a name is not followed by '>'\n"},
        {"\r\n <a=\"v\"x>\n<b/>\n", 1,
         "F:2:7: error: quote in a value is followed by neither a quote nor '>'\n"
         "F:2:8: note: reading stops here; 8 bytes are never read\n"},
        {"<a=\"never closed\n", 1, "F:1:1: error: the input ends inside a value\n"},
        {"<a/>\n<name-without-end", 1, "F:2:1: error: the input ends inside a name\n"},
        {"<a/>\n<ab", 1, "F:2:1: error: tag cut off by the end of the input\n"},
        {"<a/>\n<ab=\"\n", 1, "F:2:1: error: value too short: fewer than 3 bytes follow '='\n"},
        {"<" + std::string(70, 'n') + "/>\n", 0,
         "F:1:1: warning: name of 70 bytes is cut to its first 64 bytes\n"},
    };
    for (const Case& c : cases) {
        const std::string path = File("check.marl", c.text);
        const Outcome run = Marl("check '" + path + "'");
        std::string expected = c.report;
        for (size_t at; (at = expected.find("F:")) != std::string::npos;) {
            expected.replace(at, 1, path);
        }
        EXPECT_EQ(run.status, c.status) << c.text;
        EXPECT_EQ(run.out, expected) << c.text;
    }
}

TEST_F(MarlTool, CheckGoesOnAcrossFilesAndReadsStandardInput) {
    const std::string good = File("good.marl", kNested);
    const Outcome run = Marl("check '" + good + "' -", "<a=\"x\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "<stdin>:1:1: error: the input ends inside a value\n");
    const Outcome missing = Marl("check '" + dir + "/absent.marl' '" + good + "'");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "marl: cannot read " + dir + "/absent.marl: No such file or directory\n");
}

TEST_F(MarlTool, UnreadableFilesAndWrongCommandLines) {
    const Outcome missing = Marl("print '" + dir + "/absent.marl'");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "marl: cannot read " + dir + "/absent.marl: No such file or directory\n");
    EXPECT_EQ(Marl("get '" + dir + "' x").status, 2);  // a directory
    for (const char* args : {"", "frobnicate", "get only-one", "print a b"}) {
        const Outcome run = Marl(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_NE(run.err.find("usage: marl"), std::string::npos) << args;
    }
    const Outcome help = Marl("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: marl"), std::string::npos);
    EXPECT_EQ(Marl("--version").out, std::string("marl ") + MARLLIB_VERSION_STRING + "\n");
}

}  // namespace
