#include <gtest/gtest.h>

#include "tools/hostlib/cli.h"

namespace {

nimbra::Cli makeCli() {
    nimbra::Cli cli("tool", "Does one thing.");
    cli.option("dir", "DIR", "output folder", 'd')
        .option("range", "A-B", "a range", 0, true)
        .flag("quiet", "say less", 'q')
        .positional("IN", "input")
        .positional("OUT", "output", true);
    return cli;
}

struct Outcome {
    bool goOn;
    int exitCode;
};

Outcome run(nimbra::Cli &cli, std::vector<const char *> args) {
    args.insert(args.begin(), "tool");
    int exitCode = -1;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    bool goOn = cli.parse((int)args.size(), args.data(), exitCode);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return {goOn, exitCode};
}

}  // namespace

TEST(Cli, ValuesSeparateOrAttachedShortOrLong) {
    for (auto form : std::vector<std::vector<const char *>>{
             {"--dir", "x", "in"}, {"--dir=x", "in"}, {"-d", "x", "in"}, {"-dx", "in"}, {"in", "--dir", "x"}}) {
        nimbra::Cli cli = makeCli();
        Outcome r = run(cli, form);
        ASSERT_TRUE(r.goOn) << form[0];
        EXPECT_EQ(cli.value("dir"), "x");
        EXPECT_EQ(cli.args(), std::vector<std::string>{"in"});
    }
}

TEST(Cli, RepeatableOptionsKeepEveryValueOthersRefuseASecond) {
    nimbra::Cli cli = makeCli();
    ASSERT_TRUE(run(cli, {"--range", "1-2", "--range=3-4", "in"}).goOn);
    EXPECT_EQ(cli.values("range"), (std::vector<std::string>{"1-2", "3-4"}));
    nimbra::Cli twice = makeCli();
    EXPECT_EQ(run(twice, {"--dir", "a", "--dir", "b", "in"}).exitCode, 2);
}

TEST(Cli, MistakesAreErrorsWithExitTwo) {
    const std::vector<std::vector<const char *>> bad = {
        {},                          // missing IN
        {"in", "out", "extra"},      // stray argument
        {"--nope", "in"},            // unknown option
        {"in", "--dir"},             // value missing at the end
        {"--quiet=yes", "in"},       // a flag with a value
        {"-z", "in"},                // unknown short option
    };
    for (auto &args : bad) {
        nimbra::Cli cli = makeCli();
        Outcome r = run(cli, args);
        EXPECT_FALSE(r.goOn);
        EXPECT_EQ(r.exitCode, 2);
    }
}

TEST(Cli, HelpAndVersionExitZeroAndDashIsAnArgument) {
    for (const char *a : {"--help", "-h", "--version"}) {
        nimbra::Cli cli = makeCli();
        Outcome r = run(cli, {a});
        EXPECT_FALSE(r.goOn);
        EXPECT_EQ(r.exitCode, 0);
    }
    nimbra::Cli cli = makeCli();
    ASSERT_TRUE(run(cli, {"-", "--", "--dir"}).goOn);
    EXPECT_EQ(cli.args(), (std::vector<std::string>{"-", "--dir"}));
    EXPECT_NE(cli.usage().find("--dir DIR"), std::string::npos);
}

TEST(Cli, IntegerValuesAreRangeChecked) {
    nimbra::Cli cli("tool", "x");
    cli.option("fps", "N", "rate");
    ASSERT_TRUE(run(cli, {"--fps", "30"}).goOn);
    EXPECT_EQ(cli.intValue("fps", 1, 240, 25), 30);
    testing::internal::CaptureStderr();
    EXPECT_EQ(cli.intValue("fps", 1, 20, 25), std::nullopt);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("from 1 to 20, got '30'"), std::string::npos);
    nimbra::Cli none("tool", "x");
    none.option("fps", "N", "rate");
    ASSERT_TRUE(run(none, {}).goOn);
    EXPECT_EQ(none.intValue("fps", 1, 240, 25), 25);
}

TEST(Cli, SubCommandsMustBeKnown) {
    auto make = [] {
        nimbra::Cli cli("golden", "x");
        cli.command("check", "compare").command("update", "write").positional("REC", "recording");
        return cli;
    };
    nimbra::Cli ok = make();
    ASSERT_TRUE(run(ok, {"check", "a.rec"}).goOn);
    EXPECT_EQ(ok.arg(0), "check");
    EXPECT_EQ(ok.arg(1), "a.rec");
    nimbra::Cli bad = make();
    EXPECT_EQ(run(bad, {"verify", "a.rec"}).exitCode, 2);
    nimbra::Cli missing = make();
    EXPECT_EQ(run(missing, {"check"}).exitCode, 2);
}

TEST(Cli, ChoicesAndPairsAreCheckedWithTheirMessage) {
    nimbra::Cli cli("tool", "x");
    cli.option("bpp", "2|4", "depth").option("at", "X,Y", "place");
    ASSERT_TRUE(run(cli, {"--bpp", "4", "--at=-5,7"}).goOn);
    EXPECT_EQ(cli.choiceValue("bpp", {"2", "4"}, "2"), "4");
    EXPECT_EQ(cli.pairValue("at", -10, 10, 0, 7, {0, 0}), std::make_pair(-5L, 7L));
    for (const char *at : {"1", "1,", ",1", "1,2,3", "1,8", "x,1", "11,0", "-11,0"}) {
        nimbra::Cli c("tool", "x");
        c.option("at", "X,Y", "place");
        ASSERT_TRUE(run(c, {"--at", at}).goOn);
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.pairValue("at", -10, 10, 0, 7, {0, 0}), std::nullopt) << at;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("--at expects X,Y"), std::string::npos) << at;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(cli.choiceValue("bpp", {"1", "8"}, "1"), std::nullopt);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tool: --bpp expects one of 1, 8, got '4'\n");
    nimbra::Cli none("tool", "x");
    none.option("bpp", "2|4", "depth");
    ASSERT_TRUE(run(none, {}).goOn);
    EXPECT_EQ(none.choiceValue("bpp", {"2", "4"}, "2"), "2");
    testing::internal::CaptureStderr();
    EXPECT_EQ(none.usageError("give --bpp"), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tool: give --bpp (see tool --help)\n");
}
