// The marl tool end to end: each command's output and exit status on good, broken and
// missing input.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "../bounded_child.h"
#include "../file_writer_cases.h"
#include "marllib_source.hpp"
#include "marllib_version.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// A file's bytes, at most a few megabytes of them: enough for every output a test expects.
std::string Slurp(const std::string& path) {
    constexpr std::streamsize kMostBytes = 8 << 20;
    std::ifstream in(path, std::ios::binary);
    std::string text(static_cast<size_t>(kMostBytes), '\0');
    in.read(&text[0], kMostBytes);
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

// What a run of the tool may take: a looping printer must fail its test, not fill the disk or
// hang the suite.
constexpr rlim_t kMostBytesWritten = 16 << 20;  // per file
constexpr rlim_t kMostSeconds = 60;             // of processor time

// Runs command under /bin/sh in a process group of its own, with every file it writes capped at
// fileBytes and its processor time at kMostSeconds; killed after twice that on the clock.
// Returns its exit status, or -1 when it did not exit on its own.
int RunBounded(const std::string& command, rlim_t fileBytes = kMostBytesWritten) {
    const pid_t child = fork();
    if (child == 0) {
        marltest::LimitThisChild(fileBytes, kMostSeconds);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return marltest::WaitBounded(child, kMostSeconds);
}

class MarlTool : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::string* folder : {&dir, &io}) {
            char pattern[] = "/tmp/marl-tool-XXXXXX";
            ASSERT_NE(mkdtemp(pattern), nullptr);
            *folder = pattern;
        }
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "' '" + io + "'").c_str()); }

    std::string File(const std::string& name, const std::string& bytes) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Runs marl in the test's folder with the arguments (already quoted for the shell) and
    // the given input, its standard output going to `to` (a file of its own by default; "&-"
    // closes it), every file it writes capped at fileBytes. The runner's own files live in a
    // folder apart, so that the test's folder holds only what the test and the tool put there.
    Outcome Marl(const std::string& args, const std::string& input = "",
                 const std::string& to = "", rlim_t fileBytes = kMostBytesWritten) {
        const std::string in = io + "/stdin";
        std::ofstream(in, std::ios::binary) << input;
        const std::string out = to.empty() ? io + "/out" : to;
        std::remove((io + "/out").c_str());
        const std::string output = to == "&-" ? ">&-" : ">'" + out + "'";
        const std::string command = "cd '" + dir + "' && exec '" + MARL_TOOL + "' " + args +
                                    " <'" + in + "' " + output + " 2>'" + io + "/err'";
        const int status = RunBounded(command, fileBytes);
        return {status, Slurp(io + "/out"), Slurp(io + "/err")};
    }

    // The names in the test's folder, dot files included.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir;  // the test's folder: the tool's working folder
    std::string io;   // the runner's standard input, output and error
};

// Three hosts, one of them with a disk of its own, and a port at the top level.
const std::string kFleet =
    "<fleet>\n  <host>\n    <name=\"a\">\n    <role=\"web\">\n  </>\n"
    "  <host>\n    <name=\"b\">\n    <role=\"db\">\n    <disk>\n      <port=\"1\">\n    </>\n  </>\n"
    "  <host>\n    <name=\"c\">\n    <role=\"web\">\n  </>\n</>\n<port=\"2\">\n";

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
    EXPECT_EQ(value.out, "ada\n");
    EXPECT_EQ(Marl("get '" + path + "' server/debug").out, "\n");
    EXPECT_EQ(Marl("get '" + path + "' server/users").out, "<users>\n  <user=\"ada\">\n</>\n");
    for (const char* missing : {"server/nope", "server/host/deeper", "server[2]"}) {
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
        {"<" + std::string(64, 'n') + ">\n</>\n<" + std::string(65, 'n') + "/>\n", 0,
         "F:3:1: warning: name of 65 bytes is cut to its first 64 bytes\n"},
        // Escapes count as the one byte they stand for.
        {"<" + std::string(62, 'n') + "\x80" "1\x80\x80/>\n", 0, ""},
        {"<a=\"v\"x", 1,
         "F:1:6: error: quote in a value is followed by neither a quote nor '>'\n"
         "F:1:7: note: reading stops here; 1 byte is never read\n"},
        // Bytes that a terminal would not show as they are.
        {"<\x80\x80\x7f\x01\x1f\\z\xff>\n", 0,
         "F:1:1: warning: container '\\x80\\x7f\\x01\\x1f\\x5cz\\xff' is never closed\n"},
        // A tag at the very end needs 3 bytes after its '<': a "</>" there is not read, but
        // the tree is what the text means; a container there is lost.
        {"<a><b/></>", 0, ""},
        {"<a>\n  <b=\"1\">\n</>", 0, ""},
        {"<a/>\n</>", 0, "F:2:1: warning: '</>' closes no open container\n"},
        {"<a>\n<b>\n</>", 0, "F:1:1: warning: container 'a' is never closed\n"},
        {"<a/>\n<b>", 1,
         "F:2:1: error: tag cut off by the end of the input: the reader needs 3 bytes after a "
         "'<', so a line end after it would keep it\n"},
        // Text that was never meant as the tag it becomes.
        {"  # if a < b then\n  <b=\"1\">\n", 0,
         "F:1:10: warning: name holds a line end: a '<' in a note starts a tag\n"},
        {"<port =\"1\">\n<a b=\"c\">\n", 0,
         "F:1:1: warning: name ends with a blank: blanks before '=', '/' or '>' belong to the "
         "name\n"},
        {"< c/>\n", 0,
         "F:1:1: warning: name starts with a blank: a '<' in a note starts a tag, and blanks "
         "after '<' belong to the name\n"},
        {"<a<b/>\n", 0, "F:1:1: warning: name holds a '<': a '<' in a note starts a tag\n"},
        {"<!-- old -->\n</>\n", 0,
         "F:1:1: warning: name starts with '!--': Marl has no comments; notes go between tags, "
         "without '<'\n"},
        {"<port=8080>\n<host=\"x\">\n", 1,
         "F:1:7: error: value does not start with '\"': the byte after '=' is taken as its "
         "opening quote\n"
         "F:2:7: error: quote in a value is followed by neither a quote nor '>'\n"
         "F:2:8: note: reading stops here; 4 bytes are never read\n"},
        {"<a= \"x\">\n", 1,
         "F:1:4: error: value does not start with '\"': the byte after '=' is taken as its "
         "opening quote\n"
         "F:1:5: error: quote in a value is followed by neither a quote nor '>'\n"
         "F:1:6: note: reading stops here; 4 bytes are never read\n"},
        {"<a='x'>\n", 1,
         "F:1:4: error: value does not start with '\"': the byte after '=' is taken as its "
         "opening quote\n"
         "F:1:1: error: the input ends inside a value\n"},
        {"<a=?v\">\n", 1,
         "F:1:4: error: value does not start with '\"': the byte after '=' is taken as its "
         "opening quote\n"},
        // A byte-order mark takes no column.
        {"\xEF\xBB\xBF<a/x>\n", 1, "F:1:1: error: '/' after a name is not followed by '>'\n"},
        // Input too short for the reader is checked all the same.
        {"<a>", 1,
         "F:1:1: error: tag cut off by the end of the input: the reader needs 3 bytes after a "
         "'<', so a line end after it would keep it\n"},
        {"</>", 0, "F:1:1: warning: '</>' closes no open container\n"},
        {"<a/", 1, "F:1:1: error: tag cut off by the end of the input\n"},
        {"\r\n<", 1, "F:2:1: error: tag cut off by the end of the input\n"},
        {"a>", 0, ""},
        // LF, CR LF and a lone CR each end one line.
        {"<a>\r<b/>\r<c/x\r</>\r", 1, "F:3:1: error: '/' after a name is not followed by '>'\n"},
        {"\r\n\n\r\r\n  <c/x>\n", 1, "F:5:3: error: '/' after a name is not followed by '>'\n"},
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
        // A host's Source finds the same, in the same words.
        std::string described;
        const marl::Source source = marl::Source::load_text(c.text, path);
        for (const marl::diagnostic& problem : source.problems()) {
            described += source.describe(problem) + "\n";
        }
        EXPECT_EQ(described, expected) << c.text;
        // One that keeps the first finding alone still counts them all.
        const marl::Source first = marl::Source::load_text(c.text, path, 1);
        EXPECT_EQ(first.problems().size(), std::min<size_t>(source.problems().size(), 1));
        EXPECT_EQ(first.counted().total(), source.problems().size()) << c.text;
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
        EXPECT_NE(run.err.find("marl"), std::string::npos) << args;
    }
}

// Every option and every exit status, one row each. Expected text that ends in "..." need
// only begin with what comes before it.
TEST_F(MarlTool, OptionsAndExitStatuses) {
    File("n.marl", kNested);
    File("-x", "<x/>\n");
    File("g.marl", "<users>\n  <user=\"ada\">\n  <user=\"grace\">\n  <a\x80" "2b=\"slash\">\n"
                   "  <x[1]=\"bracket\">\n  <back\\slash/>\n</>\n");
    File("w.marl", "<a>\n</>\n</>\n</>\n</>\n");  // three stray closes: warnings only
    File("b.marl", "<a/x>\n");                       // an error
    // Three entries, all of one name; a name of the longest length a tag can have.
    const std::string longest(64, 'l');
    File("u.marl", "<u=\"1\">\n<u=\"2\">\n<u=\"3\">\n<" + longest + "=\"long\">\n");
    const std::string stray = ": warning: '</>' closes no open container\n";
    std::string hundredAndOne, hundred;
    for (int line = 1; line <= 101; ++line) {
        hundredAndOne += "</>\n";
        if (line <= 100) {
            hundred += "h.marl:" + std::to_string(line) + ":1" + stray;
        }
    }
    File("h.marl", hundredAndOne);
    File("f.marl", kFleet);
    File("m.marl", "  <a>\r\n<b=\"x\"\"y\"><c/>junk</>\n");
    const std::string printed = "<a>\n  <b=\"x\"\"y\">\n  <c/>\n</>\n";  // marl print m.marl
    const std::string wrong = "Try 'marl --help'.\n";
    std::string deep;  // 1001 levels of plain JSON
    for (int level = 0; level <= 1000; ++level) deep += "{\"a\":";
    deep += "1" + std::string(1001, '}');
    struct Case {
        std::string args;
        int status;
        std::string out;
        std::string err;
        std::string in = "";  // standard input
    };
    const Case cases[] = {
        {"--help", 0, "usage: marl [--help | --version] COMMAND...", ""},
        {"-h", 0, "usage: marl [--help | --version] COMMAND...", ""},
        {"--version", 0, std::string("marl ") + MARLLIB_VERSION_STRING + "\n", ""},
        {"", 2, "", "usage: marl..."},
        {"frobnicate", 2, "", "marl: unknown command 'frobnicate'\n" + wrong},
        {"--bogus", 2, "", "marl: unknown option '--bogus'\n" + wrong},
        {"print --bogus=1 n.marl", 2, "", "marl: unknown option '--bogus'\n" + wrong},
        {"check -q", 2, "", "marl: unknown option '-q'\n" + wrong},
        {"print -o", 2, "", "marl: option '-o' needs an argument\n" + wrong},
        {"check n.marl --max-messages", 2, "",
         "marl: option '--max-messages' needs an argument\n" + wrong},
        {"check --strict=yes n.marl", 2, "", "marl: option '--strict' takes no argument\n" + wrong},
        {"check --max-messages=-1 n.marl", 2, "",
         "marl: --max-messages takes a count from 0, not '-1'\nTry 'marl check --help'.\n"},
        {"check --max-messages=2147483648 n.marl", 2, "",
         "marl: --max-messages takes a count from 0, not '2147483648'\n"
         "Try 'marl check --help'.\n"},
        {"check --max-messages=2147483647 w.marl", 0, "w.marl:3:1...", ""},
        {"check --max-messages '' n.marl", 2, "",
         "marl: --max-messages takes a count from 0, not ''\nTry 'marl check --help'.\n"},
        {"print n.marl n.marl", 2, "",
         "marl: print takes one INPUT, not 2\nTry 'marl print --help'.\n"},
        {"get n.marl", 2, "",
         "marl: get needs a FILE and at least one PATH\nTry 'marl get --help'.\n"},
        {"print --help", 0, "usage: marl print...", ""},
        {"check -h", 0, "usage: marl check...", ""},
        {"get --help n.marl", 0, "usage: marl get...", ""},
        {"print -- -x", 0, "<x/>\n", ""},
        {"print --output=- n.marl", 0, "<server>...", ""},
        {"get g.marl /users/user 'users/user[2]' users/nope 'users/user[3]' 'users/x\\[1]'", 1,
         "ada\ngrace\nbracket\n",
         "marl: no tag 'users/nope' in g.marl\nmarl: no tag 'users/user[3]' in g.marl\n"},
        {"get -r g.marl 'users/a\\/b' users/user", 0, "slashada", ""},
        {"get g.marl --raw 'users/back\\\\slash'", 0, "", ""},
        {"get u.marl 'u[3]' 'u[4]' " + longest, 1, "3\nlong\n", "marl: no tag 'u[4]' in u.marl\n"},
        {"get u.marl " + longest + "l", 1, "", "marl: no tag '" + longest + "l' in u.marl\n"},
        {"get --where g.marl users/user 'users/user[2]' users/nope users", 1,
         "g.marl:2:3\ng.marl:3:3\ng.marl:1:1\n", "marl: no tag 'users/nope' in g.marl\n"},
        {"get -w - a/b", 0, "<stdin>:2:5\n", "", "<a>\r\n    <b/>\n</>\n"},
        {"get -r -w g.marl users", 2, "",
         "marl: get takes -r or -w, not both\nTry 'marl get --help'.\n"},
        {"get g.marl 'users//user'", 2, "",
         "marl: malformed path 'users//user'\nTry 'marl get --help'.\n"},
        {"get nowhere.marl a", 2, "",
         "marl: cannot read nowhere.marl: No such file or directory\n"},
        // '/' is the whole document, printed as marl print prints it, and stands nowhere.
        {"get m.marl /", 0, printed, ""},
        {"get -r m.marl / a/b", 0, printed + "x\"y", ""},
        {"get -w m.marl a /", 2, "",
         "marl: -w shows where tags stand; '/' is the top level, which stands nowhere\n"
         "Try 'marl get --help'.\n"},
        {"check w.marl", 0, "w.marl:3:1" + stray + "w.marl:4:1" + stray + "w.marl:5:1" + stray, ""},
        {"check --strict w.marl n.marl", 1, "w.marl:3:1...", ""},
        // A FILE that cannot be read outranks an error found in a later one, and the later
        // one is still checked.
        {"check nowhere.marl b.marl", 2, "b.marl:1:1: error: ...",
         "marl: cannot read nowhere.marl: No such file or directory\n"},
        {"check b.marl nowhere.marl", 2, "b.marl:1:1: error: ...",
         "marl: cannot read nowhere.marl: No such file or directory\n"},
        {"check --max-messages 1 w.marl", 0, "w.marl:3:1" + stray + "... and 2 more\n", ""},
        {"check --max-messages 0 h.marl", 0, hundred + "h.marl:101:1" + stray, ""},
        {"check h.marl", 0, hundred + "... and 1 more\n", ""},
        // Paths that select many tags, each once and in text order.
        {"get f.marl 'fleet/*/name' 'fleet/host[-1]/name' '**/port'", 0, "a\nb\nc\nc\n1\n2\n", ""},
        {"get f.marl 'fleet/host[role=\"web\"]/name' 'fleet/host[disk]/role'", 0, "a\nc\ndb\n",
         ""},
        {"get f.marl 'fleet/*/nope' 'fleet/host[2]/disk'", 1, "<disk>\n  <port=\"1\">\n</>\n",
         "marl: no tag 'fleet/*/nope' in f.marl\n"},
        {"get -w f.marl '**/port[*]'", 0, "f.marl:10:7\nf.marl:18:1\n", ""},
        {"ls f.marl", 0,
         "fleet\nfleet/host\nfleet/host/name\nfleet/host/role\nfleet/host[2]\nfleet/host[2]/name\n"
         "fleet/host[2]/role\nfleet/host[2]/disk\nfleet/host[2]/disk/port\nfleet/host[3]\n"
         "fleet/host[3]/name\nfleet/host[3]/role\nport\n",
         ""},
        {"ls f.marl 'fleet/host[role=\"web\"]'", 0,
         "fleet/host/name\nfleet/host/role\nfleet/host[3]/name\nfleet/host[3]/role\n", ""},
        {"ls -w f.marl '**/disk' 'fleet/host[2]'", 2, "",
         "marl: ls takes a FILE and at most one PATH\nTry 'marl ls --help'.\n"},
        {"ls -w f.marl '**/*[port]'", 0, "f.marl:10:7\tfleet/host[2]/disk/port\n", ""},
        {"ls f.marl nope", 1, "", "marl: no tag 'nope' in f.marl\n"},
        {"ls g.marl", 0,
         "users\nusers/user\nusers/user[2]\nusers/a\\/b\nusers/x\\[1]\nusers/back\\\\slash\n", ""},
        {"ls -", 0, "\\*\n\\**\n\\*[2]\n", "", "<*/>\n<**/>\n<*/>\n"},
        {"get -w - '\\*[2]' '\\**' '*'", 0, "<stdin>:3:1\n<stdin>:2:1\n<stdin>:1:1\n<stdin>:2:1\n"
         "<stdin>:3:1\n", "", "<*/>\n<**/>\n<*/>\n"},
        {"check", 1, "<stdin>:1:1: error: '/' after a name is not followed by '>'\n", "",
         "<a/x>\n"},
        // JSON, compact where standard output is no terminal, and the last layout asked for wins;
        // names and values that are not UTF-8 in base64.
        {"json m.marl", 0, "[{\"a\":[{\"b\":\"x\\\"y\"},{\"c\":null}]}]\n", ""},
        {"json --compact --pretty m.marl", 0,
         "[\n  {\"a\": [\n    {\"b\": \"x\\\"y\"},\n    {\"c\": null}\n  ]}\n]\n", ""},
        {"json -", 0, "[{\"name64\":\"Yf8=\",\"value64\":\"/g==\"},{\"b\":\"\xc3\xa9\\u0001\"}]\n",
         "", "<a\xff=\"\xfe\">\n<b=\"\xc3\xa9\x01\">\n"},
        {"json n.marl n.marl", 2, "", "marl: json takes one INPUT, not 2\nTry 'marl json --help'.\n"},
#if MARL_READS_JSON
        {"from-json", 0, printed, "", "[{\"a\":[{\"b\":\"x\\\"y\"},{\"c\":null}]}]"},
        {"from-json -", 0, "<a\xff=\"\xfe\">\n<b>\n  <c/>\n</>\n", "",
         "[{\"name64\":\"Yf8=\",\"value64\":\"/g==\"},{\"name\":\"b\",\"entries\":[{\"c\":null}]}]"},
        {"from-json", 0,
         "<port=\"8080\">\n<tag=\"a\">\n<tag=\"b\">\n<tls>\n  <on=\"true\">\n</>\n<x/>\n<e=\"1E-7\">\n",
         "", "{\"port\":8080,\"tag\":[\"a\",\"b\"],\"tls\":{\"on\":true},\"x\":null,\"e\":1E-7}"},
        {"from-json", 2, "", "<stdin>:1:9: error: not JSON: ...", "[{\"a\":1}\n"},
        {"from-json", 2, "", "<stdin>:2:6: error: not JSON: ...", "{\"a\":1,\n \"b\":tru}"},
        {"from-json", 2, "", "<stdin>:1:6: error: not JSON: ...", "{\"a\":01}"},
        {"from-json", 1, "", "<stdin>:1:2: error: no Marl form: a name is empty\n", "{\"\":1}"},
        {"from-json", 1, "", "<stdin>:1:3: error: no Marl form: a name of 65 bytes is longer...",
         "[{\"" + longest + "l\":null}]"},
        {"from-json", 1, "", "<stdin>:1:7: error: no Marl form: an entry's value is neither...",
         "[{\"a\":1}]"},
        {"from-json", 1, "", "<stdin>:1:5002: error: no Marl form: nesting deeper than 1000 levels\n",
         deep},
        {"from-json a.json b.json", 2, "",
         "marl: from-json takes one INPUT, not 2\nTry 'marl from-json --help'.\n"},
#endif
    };
    const auto matches = [](const std::string& expected, const std::string& got) {
        const size_t size = expected.size();
        if (size >= 3 && expected.compare(size - 3, 3, "...") == 0) {
            return got.compare(0, size - 3, expected, 0, size - 3) == 0;
        }
        return got == expected;
    };
    for (const Case& c : cases) {
        const Outcome run = Marl(c.args, c.in);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_TRUE(matches(c.out, run.out)) << c.args << "\n" << run.out;
        EXPECT_TRUE(matches(c.err, run.err)) << c.args << "\n" << run.err;
    }

    // The top-level help gives each command's synopsis as the command's own help does.
    const std::string top = Marl("--help").out;
    for (const std::string command :
         {"print", "check", "get", "ls", "set", "add", "rm", "rename", "json", "from-json"}) {
        const std::string own = Marl(command + " --help").out;
        const std::string synopsis = own.substr(12, own.find('\n') - 12);  // after "usage: marl "
        EXPECT_NE(top.find("\n  " + synopsis), std::string::npos) << synopsis;
    }
}

// set, add and rm write the file's text with only the edit made, to standard output or with
// -i over the file, and write nothing when any PATH cannot be edited.
TEST_F(MarlTool, EditsKeepEveryOtherByte) {
    const std::string config =
        "# settings\r\n<server>\r\n  <port=\"80\">   # public listener\r\n\r\n"
        "  <users>\r\n    <user=\"ada\">\r\n  </>\r\n</>\r\n";
    const auto with = [&](const std::string& from, const std::string& to,
                          std::string text = std::string()) {
        if (text.empty()) text = config;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::string wrong = "\nTry 'marl set --help'.\n";
    struct Case {
        std::string args;
        int status;
        std::string out;  // standard output
        std::string err;
        std::string file;  // c.marl afterwards ("" for unchanged)
        std::string in = "";
        std::string to = "";  // standard output, as for Marl()
    };
    const std::string longest(64, 'n');
    const Case cases[] = {
        {"set c.marl server/port 9090", 0, with("80", "9090"), "", ""},
        {"set -i c.marl server/port 9090 server/users/user 'a\"b'", 0, "", "",
         with("ada", "a\"\"b", with("80", "9090"))},
        {"set --in-place c.marl server/port ''", 0, "", "", with("=\"80\">", "/>")},
        {"set -p c.marl server/tls/on yes", 0,
         with("  </>\r\n</>", "  </>\r\n  <tls>\r\n    <on=\"yes\">\r\n  </>\r\n</>"), "", ""},
        {"set -i c.marl server/port 1 server/nope 2", 1, "",
         "marl: no tag 'server/nope' in c.marl\n", ""},
        {"set c.marl server/users 1", 1, "",
         "marl: cannot set the value of container 'server/users' in c.marl\n", ""},
        {"set -p c.marl server/port/x 1", 1, "",
         "marl: a leaf stands on the way to 'server/port/x' in c.marl\n", ""},
        // -p makes only the next tag of a name, not the ones before it.
        {"set -p c.marl 'server/x[3]' 1", 1, "", "marl: no tag 'server/x[3]' in c.marl\n", ""},
        // A VALUE is a value whatever it begins with; options go anywhere before it, and '--'
        // still ends them.
        {"set c.marl server/port -5 server/users/user -x", 0,
         with("ada", "-x", with("80", "-5")), "", ""},
        {"set c.marl -pi server/port -5", 0, "", "", with("80", "-5")},
        {"set c.marl server/port -- -5", 0, with("80", "-5"), "", ""},
        {"add c.marl server/users user -20", 0,
         with("ada\">\r\n", "ada\">\r\n    <user=\"-20\">\r\n"), "", ""},
        // Every PATH is checked before anything is done.
        {"set c.marl server/port 1 server/users/user 2 'server//port' 3", 2, "",
         "marl: malformed path 'server//port'" + wrong, ""},
        // A closed standard output fails only a command that writes to it.
        {"set -i c.marl server/port 1", 0, "", "", with("80", "1"), "", "&-"},
        {"set c.marl server/port 1 server", 2, "", "marl: set takes a VALUE for each PATH" + wrong,
         ""},
        {"set -i - a 1", 2, "", "marl: -i cannot replace standard input" + wrong, ""},
        {"set - a/b 2", 0, "<a><b=\"2\"></>", "", "", "<a><b=\"1\"></>"},
        {"add -i c.marl server/users user grace", 0, "", "",
         with("ada\">\r\n", "ada\">\r\n    <user=\"grace\">\r\n")},
        {"add -c c.marl / log", 0, config + "<log>\r\n</>\r\n", "", ""},
        {"add c.marl server/port x", 1, "", "marl: cannot add to leaf 'server/port' in c.marl\n",
         ""},
        {"add -c c.marl / log 1", 2, "",
         "marl: add -c takes no VALUE: a container holds none\nTry 'marl add --help'.\n", ""},
        // A NAME of the longest length a tag can have, and one byte more.
        {"add c.marl / " + longest, 0, config + "<" + longest + "/>\r\n", "", ""},
        {"add c.marl / " + longest + "n", 2, "",
         "marl: a NAME is 1 to 64 bytes, not 65\nTry 'marl add --help'.\n", ""},
        {"rm c.marl server/users", 0, with("  <users>\r\n    <user=\"ada\">\r\n  </>\r\n", ""), "",
         ""},
        // A note on the removed tag's line goes with it.
        {"rm -i c.marl server/port", 0, "", "", with("  <port=\"80\">   # public listener\r\n", "")},
        {"rm c.marl server/users/user server/gone", 1, "", "marl: no tag 'server/gone' in c.marl\n",
         ""},
        {"rm c.marl /", 2, "", "marl: rm removes tags, not the top level\nTry 'marl rm --help'.\n",
         ""},
        // Every tag that a PATH selects, each edited.
        {"set - '**/port[*]' 9", 0, [] {
             std::string t = kFleet;
             t.replace(t.find("\"1\""), 3, "\"9\"");
             return t.replace(t.find("\"2\""), 3, "\"9\"");
         }(), "", "", kFleet},
        {"rm - 'fleet/host[role=\"web\"]'", 0,
         "<fleet>\n  <host>\n    <name=\"b\">\n    <role=\"db\">\n    <disk>\n      <port=\"1\">\n"
         "    </>\n  </>\n</>\n<port=\"2\">\n",
         "", "", kFleet},
        {"rename - 'fleet/*' server", 0, [] {
             std::string t = kFleet;
             for (size_t at; (at = t.find("<host>")) != std::string::npos;) t.replace(at, 6, "<server>");
             return t;
         }(), "", "", kFleet},
        {"set c.marl 'server/*' 1", 1, "",
         "marl: cannot set the value of container 'server/*' in c.marl\n", ""},
        {"set -p c.marl 'server/*/x' 1", 2, "",
         "marl: set -p makes the tags of names and [N] only, not of 'server/*/x'" + wrong, ""},
        {"rename c.marl server/nope x", 1, "", "marl: no tag 'server/nope' in c.marl\n", ""},
        {"rename c.marl server/port ''", 2, "",
         "marl: a NEWNAME is 1 to 64 bytes, not 0\nTry 'marl rename --help'.\n", ""},
        {"rename -i c.marl server/port -listen", 0, "", "", with("<port", "<-listen")},
        // Line ends, indentation and notes of the text itself, from standard input.
        {"add - a c 1", 0, "<a>\n  <b=\"1\">\n  <c=\"1\">\n</>", "", "", "<a>\n  <b=\"1\">\n</>"},
        {"add - / c 1", 0, "<a>\n  <b=\"1\">\n</>\n<c=\"1\">", "", "", "<a>\n  <b=\"1\">\n</>"},
        {"add - / c", 0, "<a/>\r\n<b/>\r\n<c/>", "", "", "<a/>\r\n<b/>"},
        {"add - / c", 0, "<a/>\n<c/>", "", "", "<a/>"},
        {"add - a c", 0, "<a>\r  <b/>\r  <c/>\r</>\r", "", "", "<a>\r  <b/>\r</>\r"},
        {"add - a c", 0, "<a>\n  <c/>\n</>\n", "", "", "<a>\n</>\n"},
        {"add - a/b c", 0, "<a>\n\t<b>\n\t\t<c/>\n\t</>\n</>\n", "", "",
         "<a>\n\t<b>\n\t</>\n</>\n"},
        {"set -p - a/n/x 1", 0, "<a>\n\t<b/>\n\t<n>\n\t\t<x=\"1\">\n\t</>\n</>\n", "", "",
         "<a>\n\t<b/>\n</>\n"},
        {"rm - a/b", 0, "<a>\n\t<c/>\n</>\n", "", "", "<a>\n\t<b/>\n\t<c/>\n</>\n"},
        {"add - a c", 0, "<a>\n  <b/>  # note\n  <c/>\n</>\n", "", "", "<a>\n  <b/>  # note\n</>\n"},
        {"add - a c", 0, "<a>\n  <b/>\n  <c/>\n  </>\n", "", "", "<a>\n  <b/></>\n"},
        {"rm - a/c a/b", 0, "<a>\n  <d/>\n</>\n", "", "", "<a>\n  <b/>\n  <c/>\n  <d/>\n</>\n"},
        {"set - a/b 1", 0, "<a>\n  <b=\"1\">\n</>\n", "", "", "<a>\n  <b/>\n</>\n"},
        // Where nothing after a place is read, nothing is added after it.
        {"add - a c", 1, "",
         "<stdin>:3:3: error: cannot add 'c' after this tag, since nothing after it is read: "
         "the input ends inside a value\n",
         "", "<a>\n  <b/>\n  <v=\"x\n</>\n"},
        {"add - a c", 1, "",
         "<stdin>:2:3: error: cannot add 'c' after this tag, since nothing after it is read: "
         "value too short: fewer than 3 bytes follow '='\n",
         "", "<a>\n  <b=\"\""},
        // The text ends inside a value, which takes in everything after it.
        {"add - / b", 1, "",
         "<stdin>:1:6: error: cannot add 'b' after this tag, since nothing "
         "after it is read: the input ends inside a value\n",
         "", "<a/> <v=\"xyz"},
    };
    for (const Case& c : cases) {
        const std::string path = File("c.marl", config);
        const Outcome run = Marl(c.args, c.in, c.to);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_EQ(run.out, c.out) << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
        EXPECT_EQ(Slurp(path), c.file.empty() ? config : c.file) << c.args;
        EXPECT_EQ(Listing(), std::vector<std::string>{"c.marl"}) << c.args;
    }

    // In place through a link, keeping the link and the file's mode; a full standard output
    // and a file that cannot be written fail with their reasons, and change nothing.
    namespace fs = std::filesystem;
    const std::string path = File("c.marl", config);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("c.marl", dir + "/link.marl");
    EXPECT_EQ(Marl("set -i link.marl server/port 1").status, 0);
    EXPECT_TRUE(fs::is_symlink(dir + "/link.marl"));
    EXPECT_EQ(Slurp(path), with("80", "1"));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    const Outcome full = Marl("set c.marl server/port 2", "", "/dev/full");
    EXPECT_EQ(full.status, 2);
    EXPECT_EQ(full.err, "marl: cannot write to standard output: No space left on device\n");
    if (const std::optional<std::string> reason = marltest::MakeReadOnly(path)) {
        const Outcome refused = Marl("rm -i c.marl server");
        marltest::UndoReadOnly(path);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.err, "marl: cannot write to c.marl: " + *reason + "\n");
    }
    EXPECT_EQ(Slurp(path), with("80", "1"));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"c.marl", "link.marl"}));

    // An edit that changes no byte leaves the file alone, its inode, time and hard links;
    // one that does replaces it with a new file, as sed -i does, and the hard link keeps the
    // old text.
    const std::string same = File("same.marl", config);
    fs::create_hard_link(same, dir + "/hard.marl");
    fs::last_write_time(same, fs::last_write_time(same) - std::chrono::hours(24));
    const fs::file_time_type written = fs::last_write_time(same);
    struct stat before {};
    struct stat after {};
    ASSERT_EQ(stat(same.c_str(), &before), 0);
    EXPECT_EQ(Marl("set -i same.marl server/port 80 server/users/user ada").status, 0);
    ASSERT_EQ(stat(same.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(fs::last_write_time(same), written);
    EXPECT_TRUE(fs::equivalent(same, dir + "/hard.marl"));
    EXPECT_EQ(Marl("set -i same.marl server/port 81").status, 0);
    ASSERT_EQ(stat(same.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(Slurp(same), with("80", "81"));
    EXPECT_EQ(Slurp(dir + "/hard.marl"), config);
}

// Output that cannot be written, and input that cannot be read, fail with their reasons.
TEST_F(MarlTool, FailuresSayWhy) {
    File("n.marl", kNested);
    std::filesystem::create_directory(dir + "/sub");
    // Sparse, so it takes no room: one byte more than a document can hold.
    File("big.marl", "");
    std::filesystem::resize_file(dir + "/big.marl", 2147483648u);
    // Text that prints to far more than stdio's buffer holds, so that writes fail mid-run,
    // and as many reports from check.
    std::string large = "<list>\n", strays;
    for (int entry = 0; entry < 20000; ++entry) {
        large += "  <entry=\"value " + std::to_string(entry) + "\">\n";
        strays += "</>\n";
    }
    File("large.marl", large + "</>\n");
    File("strays.marl", strays);
    const std::string full = "marl: cannot write to standard output: No space left on device\n";
    struct Case {
        std::string args;
        std::string to;
        std::string err;
    };
    const Case cases[] = {
        {"print n.marl", "/dev/full", full},
        {"get n.marl server/host server/users", "/dev/full", full},
        {"check -", "/dev/full", full},  // reads "</>\n" from standard input
        {"--help", "/dev/full", full},
        {"print large.marl", "/dev/full", full},
        {"get large.marl / list", "/dev/full", full},
        // The reason is the failed write's, not that of the failed open after it.
        {"check --max-messages 0 strays.marl nowhere.marl", "/dev/full",
         "marl: cannot read nowhere.marl: No such file or directory\n" + full},
        {"print -o /dev/full n.marl", "",
         "marl: cannot write to /dev/full: No space left on device\n"},
        {"print -o sub n.marl", "", "marl: cannot write to sub: Is a directory\n"},
        {"print -o none/x.marl n.marl", "",
         "marl: cannot write to none/x.marl: No such file or directory\n"},
        {"check sub", "", "marl: cannot read sub: Is a directory\n"},
        {"print big.marl", "",
         "marl: cannot read big.marl: larger than the 2 GiB that a document can hold\n"},
    };
    for (const Case& c : cases) {
        const Outcome run = Marl(c.args, "</>\n", c.to);
        EXPECT_EQ(run.status, 2) << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
    }
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

// print -o replaces its file only with text written in full, also when it is the input.
TEST_F(MarlTool, PrintOutputReplacesTheFileWhole) {
    namespace fs = std::filesystem;
    const std::string path = File("in.marl", "  <a>\r\n<b=\"1\"></>");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("in.marl", dir + "/link.marl");
    const std::string printed = "<a>\n  <b=\"1\">\n</>\n";
    EXPECT_EQ(Marl("print -o in.marl in.marl").status, 0);
    EXPECT_EQ(Slurp(path), printed);
    EXPECT_EQ(Marl("print --output link.marl", "<c/>\n").status, 0);
    EXPECT_TRUE(fs::is_symlink(dir + "/link.marl"));
    EXPECT_EQ(Slurp(path), "<c/>\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // An input that cannot be read leaves the file as it was, and nothing beside it.
    EXPECT_EQ(Marl("print -o in.marl absent.marl").status, 2);
    EXPECT_EQ(Slurp(path), "<c/>\n");
    // JSON that does not parse, or has no Marl form, leaves it too; json -o makes a new file.
#if MARL_READS_JSON
    EXPECT_EQ(Marl("from-json -o in.marl", "[{\"a\":").status, 2);
    EXPECT_EQ(Marl("from-json -o in.marl", "{\"\":null}").status, 1);
    EXPECT_EQ(Slurp(path), "<c/>\n");
#endif
    EXPECT_EQ(Marl("json -o new.json in.marl").status, 0);
    EXPECT_EQ(Slurp(dir + "/new.json"), "[{\"c\":null}]\n");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"in.marl", "link.marl", "new.json"}));
}

// Every kind of target print -o meets, as the C++ layer's save meets them.
TEST_F(MarlTool, PrintOutputMeetsEveryTarget) {
    std::string printed;
    while (printed.size() < 4096) printed += kNested;
    File("source.marl", printed);
    marltest::RunFileWriterTable(
        [&](const std::string& target, rlim_t limit) -> std::optional<std::string> {
            const Outcome run =
                Marl("print -o '" + target + "' source.marl", "", "", limit > 0 ? limit : kMostBytesWritten);
            if (run.status == 0 && run.err.empty()) return std::nullopt;
            const std::string said = "marl: cannot write to " + target + ": ";
            EXPECT_EQ(run.status, 2) << run.err;
            if (run.err.compare(0, said.size(), said) != 0 || run.err.back() != '\n') {
                ADD_FAILURE() << run.err;
                return run.err;
            }
            return run.err.substr(said.size(), run.err.size() - said.size() - 1);
        },
        printed);
}

}  // namespace
