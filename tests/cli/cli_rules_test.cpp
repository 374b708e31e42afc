// The tool's argument rules, checked against every row of the call table.
#include "calls.h"
#include "invocation.h"

#include <gtest/gtest.h>

using namespace tqbse;
using namespace tqbse::cli;

namespace {

std::vector<std::string> typedKinds(const CallDesc& d, int skip = -1)
{
    std::vector<std::string> kinds;
    for (int i = 0; i < d.paramCount; ++i)
        if (isTyped(d.params[i].role) && i != skip)
            kinds.push_back(kindName(d.params[i].role));
    return kinds;
}

} // namespace

// The tool sizes a text or trace by the query its row names (that the
// query exists with one integer output is checked when the rows compile),
// and calls it with the arguments typed for the call itself: the two must
// take the same typed arguments.
TEST(CliRules, SizeQueriesTakeTheCallsTypedArguments)
{
    int sized = 0;
    for (const CliCall& c : cliCalls()) {
        const CallDesc& d = *c.desc;
        const int output = textOutParam(d) >= 0 ? textOutParam(d) : arrayOutParam(d);
        const CallDesc* query = sizeQuery(d);
        ASSERT_EQ(query, output >= 0 ? sizingQuery(d.params[output]) : nullptr) << d.shortName();
        if (!query)
            continue;
        ++sized;
        EXPECT_NE(findCliCall(query->shortName()), nullptr) << query->shortName();
        EXPECT_EQ(typedKinds(*query), typedKinds(d)) << d.shortName() << " sized by " << query->shortName();
    }
    EXPECT_EQ(sized, 11); // 6 names, 2 downloads, the error text, 2 traces
}

TEST(CliRules, PrepareAcceptsExactlyTheTypedArguments)
{
    for (const CliCall& c : cliCalls()) {
        const CallDesc& d = *c.desc;
        std::vector<std::string> args;
        for (const std::string& kind : typedKinds(d))
            args.push_back(kind == "text" ? "abc" : "1");
        Invocation inv;
        EXPECT_FALSE(Invocation::prepare(c, args, Options{}, &inv)) << d.shortName();
        args.push_back("1");
        const auto tooMany = Invocation::prepare(c, args, Options{}, &inv);
        ASSERT_TRUE(tooMany) << d.shortName();
        EXPECT_NE(tooMany->find(usageLine(d)), std::string::npos) << *tooMany;
    }
}

TEST(CliRules, ArgumentsParseByKind)
{
    struct Case {
        const char* text;
        std::optional<int32_t> asInt;
    } ints[] = {{"0", 0},           {"-14", -14},        {"2147483647", 2147483647},
                {"2147483648", {}}, {"0xffffffff", -1},  {"0x10", 16},
                {"1.5", {}},        {"", {}},            {"12abc", {}},
                {"-", {}},          {"0x1ffffffff", {}}, {"-2147483648", INT32_MIN}};
    for (const Case& c : ints)
        EXPECT_EQ(parseInt(c.text), c.asInt) << c.text;

    EXPECT_EQ(parseFlag("true"), -1);
    EXPECT_EQ(parseFlag("OFF"), 0);
    EXPECT_EQ(parseFlag("2"), 2);
    EXPECT_EQ(parseFlag("maybe"), std::nullopt);
    EXPECT_EQ(parseDouble("1.95e9"), 1.95e9);
    EXPECT_EQ(parseDouble("1e999"), std::nullopt);
    EXPECT_EQ(parseDouble("1GHz"), std::nullopt);
    EXPECT_EQ(parseFloat("-42.5"), -42.5f);
    EXPECT_EQ(parseFloat("x"), std::nullopt);
}

TEST(CliRules, AddressesAndOptions)
{
    EXPECT_EQ(parseAddress("127.0.0.20"), (std::array<int32_t, 4>{127, 0, 0, 20}));
    for (const char* bad : {"127.0.0", "127.0.0.256", "1.2.3.4.5", "a.b.c.d", "127..0.1", "", "127.0.0.1 "})
        EXPECT_FALSE(parseAddress(bad)) << bad;

    Command command;
    ASSERT_FALSE(parseCommandLine({"RX_InputLevel_Set", "--server=127.0.0.20", "--", "0", "-5"}, &command));
    EXPECT_EQ(command.options.octets[3], 20);
    EXPECT_EQ(command.words, (std::vector<std::string>{"RX_InputLevel_Set", "0", "-5"}));

    Command bad;
    EXPECT_TRUE(parseCommandLine({"--server", "10.0.0.300", "list"}, &bad));
    Command both;
    EXPECT_TRUE(parseCommandLine({"--json", "--csv", "list"}, &both));
    Command unknown;
    EXPECT_TRUE(parseCommandLine({"--verbose", "list"}, &unknown));

    // -h is help before "--" and a value after it; --version takes no value.
    Command shortHelp;
    ASSERT_FALSE(parseCommandLine({"list", "-h"}, &shortHelp));
    EXPECT_TRUE(shortHelp.options.help);
    Command value;
    ASSERT_FALSE(parseCommandLine({"TestCase_Select", "--", "-h"}, &value));
    EXPECT_FALSE(value.options.help);
    EXPECT_EQ(value.words, (std::vector<std::string>{"TestCase_Select", "-h"}));
    Command version;
    ASSERT_FALSE(parseCommandLine({"--version"}, &version));
    EXPECT_TRUE(version.options.version);
    EXPECT_TRUE(parseCommandLine({"--version=1"}, &version));
}

TEST(CliRules, FileAndOutOnlyWhereTheyApply)
{
    Options withFile;
    withFile.file = "/nonexistent/file";
    Invocation inv;
    const auto missing = Invocation::prepare(*findCliCall("Scenario_Upload"), {"s"}, withFile, &inv);
    ASSERT_TRUE(missing);
    EXPECT_NE(missing->find("/nonexistent/file"), std::string::npos);
    EXPECT_TRUE(Invocation::prepare(*findCliCall("RX_CentreFrequency_Get"), {"0"}, withFile, &inv));

    Options withOut;
    withOut.out = "/tmp/x";
    EXPECT_FALSE(Invocation::prepare(*findCliCall("Scenario_Download"), {"s"}, withOut, &inv));
    EXPECT_TRUE(Invocation::prepare(*findCliCall("Scenario_DownloadSize_Get"), {"s"}, withOut, &inv));
}

// A mistyped call name is answered with the closest row's name, letter case
// ignored, the prefix allowed; a word far from every name gets no hint.
TEST(CliRules, AMistypedNameSuggestsTheClosestCall)
{
    const struct {
        const char* typed;
        const char* meant; // null: no hint
    } cases[] = {
        {"RX_CentreFrequncy_Get", "RX_CentreFrequency_Get"},
        {"rx_centrefrequency_get", "RX_CentreFrequency_Get"},
        {"RX_CentreFrequency_St", "RX_CentreFrequency_Set"},
        {"tqBsePluginControlDll_Intialise", "Initialise"},
        {"LTE_Results_IQSkw_Get", "LTE_Results_IQSkew_Get"},
        {"Frobnicate", nullptr},
        {"RX_Frequency", nullptr},
    };
    for (const auto& c : cases) {
        const CliCall* hint = closestCall(c.typed);
        EXPECT_EQ(hint ? std::string(hint->desc->shortName()) : "", c.meant ? c.meant : "") << c.typed;
    }
}
