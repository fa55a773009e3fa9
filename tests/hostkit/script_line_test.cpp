#include "hostkit/script_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "hostkit/processing_driver.h"

namespace {

struct Calls {
    std::vector<std::string> log;
};

void Record(const char* name, void* data, CScriptValue* argv, int argc) {
    auto* activation = static_cast<FilterActivation*>(data);
    auto& calls = *static_cast<Calls*>(activation->filter_data);
    std::string entry = name;
    for (int i = 0; i < argc; ++i) {
        entry += (i == 0 ? "(" : ",") + std::to_string(argv[i].value.i);
        EXPECT_EQ(argv[i].type, CScriptValue::T_INT);
    }
    calls.log.push_back(entry + (argc == 0 ? "()" : ")"));
}

void Config(IScriptInterpreter*, void* data, CScriptValue* argv, int argc) {
    Record("Config", data, argv, argc);
}
void Reset(IScriptInterpreter*, void* data, CScriptValue* argv, int argc) {
    Record("Reset", data, argv, argc);
}

const ScriptFunctionDef kFunctions[] = {
    {&Config, "Config", "0iiii"},
    {&Reset, "Reset", "0"},
    {&Reset, "Name", "0s"},
    {&Reset, "Value", "ii"},
    {nullptr, nullptr, nullptr},
};
CScriptObject kScriptObject = {nullptr, kFunctions, nullptr};

class ScriptLineTest : public ::testing::Test {
protected:
    ScriptLineTest() {
        definition_.script_obj = &kScriptObject;
        activation_.filter = &definition_;
        activation_.filter_data = &calls_;
    }
    bool Run(const std::string& line) { return RunScriptLine(activation_, line, error_); }

    FilterDefinition definition_{};
    FilterActivation activation_{};
    Calls calls_;
    std::string error_;
};

struct GoodLine {
    const char* line;
    const char* call;
};

class ScriptLineAcceptsTest : public ScriptLineTest,
                              public ::testing::WithParamInterface<GoodLine> {};

TEST_P(ScriptLineAcceptsTest, CallsTheFunctionWithTheIntegers) {
    ASSERT_TRUE(Run(GetParam().line)) << error_;
    EXPECT_EQ(calls_.log, std::vector<std::string>{GetParam().call});
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScriptLineAcceptsTest,
    ::testing::Values(GoodLine{"Config(10,20,110,220)", "Config(10,20,110,220)"},
                      GoodLine{"  Config ( -5 , 0,30 ,\t40 ) ;  ", "Config(-5,0,30,40)"},
                      GoodLine{"Config(+1,2,3,4);", "Config(1,2,3,4)"},
                      GoodLine{"Config(2147483647,-2147483648,0,-0)",
                               "Config(2147483647,-2147483648,0,0)"},
                      GoodLine{"Config(300,200,100,50)\r", "Config(300,200,100,50)"},
                      GoodLine{"Reset()", "Reset()"}));

struct BadLine {
    const char* line;
    const char* message;
};

class ScriptLineRejectsTest : public ScriptLineTest,
                              public ::testing::WithParamInterface<BadLine> {};

TEST_P(ScriptLineRejectsTest, ExplainsAndCallsNothing) {
    EXPECT_FALSE(Run(GetParam().line));
    EXPECT_NE(error_.find(GetParam().message), std::string::npos) << error_;
    EXPECT_TRUE(calls_.log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScriptLineRejectsTest,
    ::testing::Values(BadLine{"Config(2147483648,0,0,0)", "2147483648 does not fit in 32 bits"},
                      BadLine{"Config(-2147483649,0,0,0)", "does not fit in 32 bits"},
                      BadLine{"Config(99999999999999999999999,0,0,0)", "does not fit"},
                      BadLine{"Config(1,2,3)", "Config takes 4 arguments, the line gives 3"},
                      BadLine{"Config(1,2,3,4,5)", "the line gives 5"},
                      BadLine{"Config()", "the line gives 0"},
                      BadLine{"Mask(1,2,3,4)", "no script function Mask"},
                      BadLine{"config(1,2,3,4)", "no script function config"},
                      BadLine{"Config(1,,2,3)", "expected a number at column 10"},
                      BadLine{"Config(1,2,3,4", "expected ',' or ')' at the end of the line"},
                      BadLine{"Config 1,2,3,4", "expected '(' after Config"},
                      BadLine{"Config(1,2,3,4) x", "unexpected text"},
                      BadLine{"Config(1,2,3,4);;", "unexpected text"},
                      BadLine{"Config(0x10,2,3,4)", "expected ',' or ')'"},
                      BadLine{"Config(1.5,2,3,4)", "expected ',' or ')'"},
                      BadLine{"Config(-,2,3,4)", "expected a number"},
                      BadLine{"(1,2,3,4)", "expected a function name"},
                      BadLine{"", "expected a function name"},
                      BadLine{"Name(1)", "type 's'"},
                      BadLine{"Value(1)", "returns a value"}));

TEST_F(ScriptLineTest, NeedsAFilterWithScriptFunctions) {
    definition_.script_obj = nullptr;
    EXPECT_FALSE(Run("Config(1,2,3,4)"));
    EXPECT_EQ(error_, "the filter offers no script functions");
}

TEST_F(ScriptLineTest, RunsEveryLineOfAScriptSkippingBlanksAndComments) {
    std::istringstream script("# mask of the first clip\n\nConfig(1,2,3,4)\n   \n  # again\n"
                              "Config(5,6,7,8);\r\n");
    ASSERT_TRUE(RunScript(activation_, script, error_)) << error_;
    EXPECT_EQ(calls_.log, (std::vector<std::string>{"Config(1,2,3,4)", "Config(5,6,7,8)"}));
}

TEST_F(ScriptLineTest, StopsAtTheFirstBadLineAndNamesIt) {
    std::istringstream script("Config(1,2,3,4)\n# fine\nConfig(1,2)\nConfig(5,6,7,8)\n");
    EXPECT_FALSE(RunScript(activation_, script, error_));
    EXPECT_EQ(error_, "line 3: Config takes 4 arguments, the line gives 2");
    EXPECT_EQ(calls_.log, std::vector<std::string>{"Config(1,2,3,4)"});
}

}  // namespace
