// TExpressionParser: compiles a formula of the expression language into a TCalcCmdList.
//
// The language: 64-bit floating-point numbers, + - * / with the usual precedence (all
// left-associative), unary signs binding tighter than * and /, parentheses, functions with a fixed
// number of arguments written Name(a, b) and names without arguments written bare (variables,
// constants, Rnd). Names are case-insensitive; a caller-supplied resolver is asked first, then the
// built-in table (ExpressionFunctions.h). The compiler folds every constant sub-expression, merges
// chains of constant additions and multiplications, evaluates pure functions with constant
// arguments and lets functions replace themselves when some arguments are constant.
//
// The parser keeps its own stack of open brackets and calls on the heap rather than recursing, so
// any text, however deeply nested, compiles or fails with an error code without exhausting the
// thread's stack.
#pragma once

#include "project/CalcFunc.h"
#include "project/CalcProgram.h"

#include <functional>
#include <string>
#include <string_view>

namespace kiv {

enum class TCalcError : int {
    None = 0,
    Expected = 1,       // detail: what was expected
    InvalidNumber = 2,  // an exponent letter without digits, or a number out of the double range
    DivisionByZero = 3, // division by a constant 0
    Unknown = 4,        // a name neither the resolver nor the built-in table knows
    FunctionCall = 5,   // compile-time evaluation failed; detail: the function's name
};

// "No Error", "Expected", "Invalid Number Format", "Division by Zerro", ...
const char* CalcErrorText(TCalcError code) noexcept;

// Turns an identifier into a function (one reference goes to the program), or returns none so that
// the built-in table is searched. Called on the compiling thread; must not throw.
using TCalcResolver = std::function<TRef<TCalcFunc>(std::string_view name)>;

class TExpressionParser {
public:
    // Compiles the bytes [start, start + length) of `text`, clipped to the text (a negative start
    // means 0). On success Program() holds the commands; on failure the program is empty and
    // ErrorCode()/ErrorDetail() say why.
    bool Compile(std::string_view text, int start, int length, const TCalcResolver& resolver = {});
    bool Compile(std::string_view text, const TCalcResolver& resolver = {});

    const TCalcCmdList& Program() const noexcept { return program_; }
    // Hands the compiled program to its owner; the parser's program is empty afterwards.
    TCalcCmdList TakeProgram() noexcept { return std::move(program_); }

    TCalcError ErrorCode() const noexcept { return error_; }
    const std::string& ErrorDetail() const noexcept { return detail_; }

private:
    enum class TTokenKind { End, Operator, Number, Identifier, Other };
    struct TExprState;
    struct TFrame;

    bool Run();
    bool NextToken();
    bool Fail(TCalcError code, std::string detail = {});
    TRef<TCalcFunc> Resolve(std::string_view name);

    // Code generation with folding; each returns false after setting an error.
    bool EmitBinary(char op, std::size_t leftStart, std::size_t rightStart);
    void EmitNegate(std::size_t operandStart);
    void AddConst(double x);
    void MulConst(double x);
    bool EmitCall(TRef<TCalcFunc> function, const std::vector<std::size_t>& argumentStarts);
    bool IsConstant(std::size_t start, std::size_t end) const;

    std::string_view text_;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
    TTokenKind token_ = TTokenKind::End;
    std::size_t tokenStart_ = 0;
    std::size_t tokenEnd_ = 0;
    double number_ = 0.0;
    const TCalcResolver* resolver_ = nullptr;

    TCalcCmdList program_;
    TCalcError error_ = TCalcError::None;
    std::string detail_;
};

} // namespace kiv
