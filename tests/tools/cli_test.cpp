// The command-line parser the tools share. (Each tool's help, version,
// stray arguments and range messages are run in tool_messages_test.cpp.)
#include <gtest/gtest.h>

#include "tools/hostlib/cli.h"

namespace {

nimbra::Cli makeCli() {
    nimbra::Cli cli("tool", "Does one thing.");
    cli.option("dir", "DIR", "output folder", 'd')
        .option("range", "A-B", "a range", 0, true)
        .option("at", "X,Y", "place")
        .flag("quiet", "say less", 'q')
        .positional("IN", "input")
        .positional("OUT", "output", true);
    return cli;
}

// Parses the arguments: -1 when the program goes on, else its exit code.
int parse(nimbra::Cli &cli, std::vector<const char *> args) {
    args.insert(args.begin(), "tool");
    int exitCode = -1;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const bool goOn = cli.parse((int)args.size(), args.data(), exitCode);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return goOn ? -1 : exitCode;
}

}  // namespace

TEST(Cli, ValuesSeparateOrAttachedShortOrLongAndDashIsAnArgument) {
    for (auto form : std::vector<std::vector<const char *>>{
             {"--dir", "x", "in"}, {"--dir=x", "in"}, {"-d", "x", "in"}, {"-dx", "in"}, {"in", "--dir", "x"}}) {
        nimbra::Cli cli = makeCli();
        ASSERT_EQ(parse(cli, form), -1) << form[0];
        EXPECT_EQ(cli.value("dir"), "x");
        EXPECT_EQ(cli.args(), std::vector<std::string>{"in"});
    }
    nimbra::Cli cli = makeCli();
    ASSERT_EQ(parse(cli, {"-", "--", "--dir"}), -1);
    EXPECT_EQ(cli.args(), (std::vector<std::string>{"-", "--dir"}));
}

TEST(Cli, RepeatableOptionsKeepEveryValueOthersRefuseASecond) {
    nimbra::Cli cli = makeCli();
    ASSERT_EQ(parse(cli, {"--range", "1-2", "--range=3-4", "in"}), -1);
    EXPECT_EQ(cli.values("range"), (std::vector<std::string>{"1-2", "3-4"}));
    nimbra::Cli twice = makeCli();
    EXPECT_EQ(parse(twice, {"--dir", "a", "--dir", "b", "in"}), 2);
}

TEST(Cli, MistakesAreErrorsWithExitTwo) {
    const std::vector<std::vector<const char *>> bad = {
        {},                       // missing IN
        {"in", "out", "extra"},   // stray argument
        {"--nope", "in"},         // unknown option
        {"in", "--dir"},          // value missing at the end
        {"--quiet=yes", "in"},    // a flag with a value
        {"-z", "in"},             // unknown short option
    };
    for (auto &args : bad) {
        nimbra::Cli cli = makeCli();
        EXPECT_EQ(parse(cli, args), 2) << args.size();
    }
}

TEST(Cli, SubCommandsMustBeKnown) {
    auto make = [] {
        nimbra::Cli cli("golden", "x");
        cli.command("check", "compare").command("update", "write").positional("REC", "recording");
        return cli;
    };
    nimbra::Cli ok = make();
    ASSERT_EQ(parse(ok, {"check", "a.rec"}), -1);
    EXPECT_EQ(std::make_pair(ok.arg(0), ok.arg(1)), std::make_pair(std::string("check"), std::string("a.rec")));
    nimbra::Cli bad = make(), missing = make();
    EXPECT_EQ(parse(bad, {"verify", "a.rec"}), 2);
    EXPECT_EQ(parse(missing, {"check"}), 2);
}

TEST(Cli, PairsAreCheckedWithTheirMessage) {
    nimbra::Cli cli = makeCli();
    ASSERT_EQ(parse(cli, {"--at=-5,7", "in"}), -1);
    EXPECT_EQ(cli.pairValue("at", -10, 10, 0, 7, {0, 0}), std::make_pair(-5L, 7L));
    for (const char *at : {"1", "1,", "1,2,3", "1,8", "x,1", "-11,0"}) {
        nimbra::Cli c = makeCli();
        ASSERT_EQ(parse(c, {"--at", at, "in"}), -1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.pairValue("at", -10, 10, 0, 7, {0, 0}), std::nullopt) << at;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("--at expects X,Y"), std::string::npos) << at;
    }
    nimbra::Cli none = makeCli();
    ASSERT_EQ(parse(none, {"in"}), -1);
    EXPECT_EQ(none.pairValue("at", -10, 10, 0, 7, {3, 4}), std::make_pair(3L, 4L));
    testing::internal::CaptureStderr();
    EXPECT_EQ(none.usageError("give --at"), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tool: give --at (see tool --help)\n");
}
