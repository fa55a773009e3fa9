#include "hostkit/script_line.h"

#include <cctype>
#include <cstdint>
#include <limits>

#include "hostkit/quoted_text.h"

namespace {

constexpr char kNoResult = '0';
constexpr char kIntegerArgument = 'i';
constexpr char kCommentStart = '#';

class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    void SkipBlanks() {
        while (position_ < text_.size() &&
               std::isspace(static_cast<unsigned char>(text_[position_]))) {
            ++position_;
        }
    }
    bool AtEnd() const { return position_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[position_]; }
    bool Take(char wanted) {
        SkipBlanks();
        if (Peek() != wanted) {
            return false;
        }
        ++position_;
        return true;
    }
    std::string Name() {
        SkipBlanks();
        const std::size_t start = position_;
        auto isNameCharacter = [](char c, bool first) {
            const unsigned char u = static_cast<unsigned char>(c);
            return c == '_' || (first ? std::isalpha(u) : std::isalnum(u));
        };
        if (!AtEnd() && isNameCharacter(Peek(), true)) {
            ++position_;
            while (!AtEnd() && isNameCharacter(Peek(), false)) {
                ++position_;
            }
        }
        return text_.substr(start, position_ - start);
    }
    // A signed decimal integer of 32 bits; false with `error` set otherwise.
    bool Integer(int& value, std::string& error) {
        SkipBlanks();
        const std::size_t start = position_;
        bool negative = false;
        if (Peek() == '-' || Peek() == '+') {
            negative = Peek() == '-';
            ++position_;
        }
        if (!std::isdigit(static_cast<unsigned char>(Peek()))) {
            error = "expected a number " + Where();
            return false;
        }
        constexpr std::int64_t kLimit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
        std::int64_t magnitude = 0;
        bool tooLarge = false;
        while (std::isdigit(static_cast<unsigned char>(Peek()))) {
            magnitude = magnitude * 10 + (Peek() - '0');
            if (magnitude > kLimit) {
                tooLarge = true;
                magnitude = kLimit + 1;  // keep reading the digits without overflow
            }
            ++position_;
        }
        if (tooLarge || magnitude > (negative ? kLimit : kLimit - 1)) {
            error = "the number " + text_.substr(start, position_ - start) +
                    " does not fit in 32 bits";
            return false;
        }
        value = static_cast<int>(negative ? -magnitude : magnitude);
        return true;
    }
    std::string Where() const {
        if (AtEnd()) {
            return "at the end of the line";
        }
        return "at column " + std::to_string(position_ + 1) + " (" +
               Quoted(std::string(1, Peek())) + ")";
    }

private:
    const std::string& text_;
    std::size_t position_ = 0;
};

const ScriptFunctionDef* FindFunction(const CScriptObject& object, const std::string& name) {
    for (const ScriptFunctionDef* row = object.func_list; row != nullptr && row->name != nullptr;
         ++row) {
        if (name == row->name) {
            return row;
        }
    }
    return nullptr;
}

std::string Arguments(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

}  // namespace

bool ParseScriptLine(const std::string& line, ScriptCall& call, std::string& error) {
    Reader reader(line);
    call = ScriptCall{};
    call.function = reader.Name();
    if (call.function.empty()) {
        error = "expected a function name " + reader.Where();
        return false;
    }
    if (!reader.Take('(')) {
        error = "expected '(' after " + call.function + " " + reader.Where();
        return false;
    }
    if (!reader.Take(')')) {
        do {
            int value = 0;
            if (!reader.Integer(value, error)) {
                return false;
            }
            call.arguments.push_back(value);
        } while (reader.Take(','));
        if (!reader.Take(')')) {
            error = "expected ',' or ')' " + reader.Where();
            return false;
        }
    }
    reader.Take(';');
    reader.SkipBlanks();
    if (!reader.AtEnd()) {
        error = "unexpected text after the call " + reader.Where();
        return false;
    }
    return true;
}

bool RunScriptLine(FilterActivation& activation, const std::string& line, std::string& error) {
    ScriptCall call;
    if (!ParseScriptLine(line, call, error)) {
        return false;
    }
    const FilterDefinition* definition = activation.filter;
    if (definition == nullptr || definition->script_obj == nullptr) {
        error = "the filter offers no script functions";
        return false;
    }
    const ScriptFunctionDef* function = FindFunction(*definition->script_obj, call.function);
    if (function == nullptr || function->func_ptr == nullptr) {
        error = "the filter has no script function " + call.function;
        return false;
    }
    const std::string signature = function->arg_list != nullptr ? function->arg_list : "";
    if (signature.empty() || signature[0] != kNoResult) {
        error = "script function " + call.function + " returns a value, which is not supported";
        return false;
    }
    for (char type : signature.substr(1)) {
        if (type != kIntegerArgument) {
            error = "script function " + call.function + " takes an argument of type '" +
                    std::string(1, type) + "', which is not supported";
            return false;
        }
    }
    const std::size_t expected = signature.size() - 1;
    if (call.arguments.size() != expected) {
        error = call.function + " takes " + Arguments(expected) + ", the line gives " +
                std::to_string(call.arguments.size());
        return false;
    }
    std::vector<CScriptValue> values(call.arguments.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i].type = CScriptValue::T_INT;
        values[i].thisPtr = nullptr;
        values[i].value.wide = 0;
        values[i].value.i = call.arguments[i];
    }
    function->func_ptr(nullptr, &activation, values.data(), static_cast<int>(values.size()));
    return true;
}

bool RunScript(FilterActivation& activation, std::istream& script, std::string& error) {
    std::string line;
    for (int number = 1; std::getline(script, line); ++number) {
        const std::size_t first = line.find_first_not_of(" \t\r\f\v");
        if (first == std::string::npos || line[first] == kCommentStart) {
            continue;
        }
        if (!RunScriptLine(activation, line, error)) {
            error = "line " + std::to_string(number) + ": " + error;
            return false;
        }
    }
    return true;
}
