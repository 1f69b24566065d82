#include "project/Expression.h"

#include "base/Exception.h"
#include "project/ExpressionFunctions.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <vector>

namespace kiv {

namespace {

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// Decimal text with "." as the separator, whatever the process locale says.
double ReadDecimal(const std::string& text) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return strtod_l(text.c_str(), nullptr, cLocale);
}

constexpr double kMergeEpsilon = 1e-8;

} // namespace

const char* CalcErrorText(TCalcError code) noexcept {
    switch (code) {
    case TCalcError::None:
        return "No Error";
    case TCalcError::Expected:
        return "Expected";
    case TCalcError::InvalidNumber:
        return "Invalid Number Format";
    case TCalcError::DivisionByZero:
        return "Division by Zerro";
    case TCalcError::Unknown:
        return "Unknown Function or Variable";
    case TCalcError::FunctionCall:
        return "Function Call Error";
    }
    return "";
}

// The state of one expression being compiled: where its pieces start in the program and which
// operators wait for their right operand.
struct TExpressionParser::TExprState {
    std::size_t expressionStart = 0; // left operand of the pending + or -
    std::size_t termStart = 0;       // left operand of the pending * or /
    std::size_t factorStart = 0;     // the factor being compiled
    char pendingAdd = 0;
    char pendingMul = 0;
    bool negate = false; // an odd number of - signs stands before the factor
};

// An open bracket, an open argument list, or the whole formula.
struct TExpressionParser::TFrame {
    enum TKind { Formula, Bracket, Call } kind = Formula;
    TExprState state;
    TRef<TCalcFunc> function;
    std::vector<std::size_t> argumentStarts;
};

bool TExpressionParser::Compile(std::string_view text, const TCalcResolver& resolver) {
    return Compile(text, 0, static_cast<int>(std::min<std::size_t>(text.size(), 0x7FFFFFFF)), resolver);
}

bool TExpressionParser::Compile(std::string_view text, int start, int length, const TCalcResolver& resolver) {
    const std::size_t first =
        start < 1 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(start), text.size());
    const std::size_t count = length < 0 ? 0 : static_cast<std::size_t>(length);
    text_ = text;
    position_ = first;
    end_ = std::min(text.size(), first + count);
    resolver_ = &resolver;
    program_.Clear();
    error_ = TCalcError::None;
    detail_.clear();
    const bool ok = Run();
    if (!ok) program_.Clear();
    resolver_ = nullptr;
    text_ = {};
    return ok;
}

bool TExpressionParser::Fail(TCalcError code, std::string detail) {
    error_ = code;
    detail_ = std::move(detail);
    return false;
}

bool TExpressionParser::NextToken() {
    while (position_ < end_ && static_cast<unsigned char>(text_[position_]) < 0x21)
        ++position_;
    tokenStart_ = position_;
    if (position_ >= end_) {
        token_ = TTokenKind::End;
        tokenEnd_ = position_;
        return true;
    }
    const unsigned char c = static_cast<unsigned char>(text_[position_]);
    switch (c) {
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case '-':
    case '/':
        token_ = TTokenKind::Operator;
        tokenEnd_ = ++position_;
        return true;
    default:
        break;
    }
    auto at = [this](std::size_t i) { return i < end_ ? static_cast<unsigned char>(text_[i]) : 0; };
    if (IsDigit(c)) {
        std::size_t i = position_;
        while (IsDigit(at(i)))
            ++i;
        if (at(i) == '.') {
            ++i;
            while (IsDigit(at(i)))
                ++i;
        }
        if (at(i) == 'E' || at(i) == 'e') {
            ++i;
            if (at(i) == '+' || at(i) == '-') ++i;
            if (!IsDigit(at(i))) return Fail(TCalcError::InvalidNumber);
            while (IsDigit(at(i)))
                ++i;
        }
        const double value = ReadDecimal(std::string(text_.substr(position_, i - position_)));
        // A number beyond the double range has no value to load.
        if (!std::isfinite(value)) return Fail(TCalcError::InvalidNumber);
        number_ = value;
        token_ = TTokenKind::Number;
        tokenEnd_ = position_ = i;
        return true;
    }
    if (IsLetter(c)) {
        std::size_t i = position_ + 1;
        while (IsLetter(at(i)) || IsDigit(at(i)) || at(i) == '.')
            ++i;
        token_ = TTokenKind::Identifier;
        tokenEnd_ = position_ = i;
        return true;
    }
    token_ = TTokenKind::Other;
    tokenEnd_ = ++position_;
    return true;
}

TRef<TCalcFunc> TExpressionParser::Resolve(std::string_view name) {
    if (resolver_ && *resolver_) {
        if (TRef<TCalcFunc> function = (*resolver_)(name)) return function;
    }
    return FindFunction(name);
}

bool TExpressionParser::Run() {
    auto isOperator = [this](char op) { return token_ == TTokenKind::Operator && text_[tokenStart_] == op; };
    auto freshState = [this] {
        TExprState state;
        state.expressionStart = state.termStart = state.factorStart =
            static_cast<std::size_t>(program_.Count());
        return state;
    };

    if (!NextToken()) return false;
    std::vector<TFrame> frames;
    frames.push_back(TFrame{TFrame::Formula, freshState(), nullptr, {}});
    bool expectFactor = true;
    for (;;) {
        TExprState& state = frames.back().state;
        if (expectFactor) {
            // factor := { + | - } ( "(" expression ")" | primary )
            state.negate = false;
            while (isOperator('+') || isOperator('-')) {
                if (isOperator('-')) state.negate = !state.negate;
                if (!NextToken()) return false;
            }
            state.factorStart = static_cast<std::size_t>(program_.Count());
            if (isOperator('(')) {
                if (!NextToken()) return false;
                frames.push_back(TFrame{TFrame::Bracket, freshState(), nullptr, {}});
                continue;
            }
            if (token_ == TTokenKind::Number) {
                program_.AddSimple(kCmdLoad, number_);
                if (!NextToken()) return false;
                expectFactor = false;
                continue;
            }
            if (token_ != TTokenKind::Identifier) return Fail(TCalcError::Expected, "Expression");
            TRef<TCalcFunc> function = Resolve(text_.substr(tokenStart_, tokenEnd_ - tokenStart_));
            if (!function) return Fail(TCalcError::Unknown);
            if (function->ArgumentCount() == 0) {
                if (!EmitCall(std::move(function), {})) return false;
                if (!NextToken()) return false;
                expectFactor = false;
                continue;
            }
            if (!NextToken()) return false;
            if (!isOperator('(')) return Fail(TCalcError::Expected, "(");
            if (!NextToken()) return false;
            TFrame call{TFrame::Call, freshState(), std::move(function), {}};
            call.argumentStarts.push_back(static_cast<std::size_t>(program_.Count()));
            frames.push_back(std::move(call));
            continue;
        }

        // A factor is complete: apply its sign and a waiting * or /.
        if (state.negate) {
            EmitNegate(state.factorStart);
            state.negate = false;
        }
        if (state.pendingMul) {
            if (!EmitBinary(state.pendingMul, state.termStart, state.factorStart)) return false;
            state.pendingMul = 0;
        }
        if (isOperator('*') || isOperator('/')) {
            state.pendingMul = text_[tokenStart_];
            if (!NextToken()) return false;
            expectFactor = true;
            continue;
        }
        // The term is complete: apply a waiting + or -.
        if (state.pendingAdd) {
            if (!EmitBinary(state.pendingAdd, state.expressionStart, state.termStart)) return false;
            state.pendingAdd = 0;
        }
        if (isOperator('+') || isOperator('-')) {
            state.pendingAdd = text_[tokenStart_];
            if (!NextToken()) return false;
            state.termStart = static_cast<std::size_t>(program_.Count());
            expectFactor = true;
            continue;
        }
        // The expression is complete: close what it belongs to.
        TFrame& frame = frames.back();
        switch (frame.kind) {
        case TFrame::Formula:
            if (token_ != TTokenKind::End) return Fail(TCalcError::Expected, "Operator");
            return true;
        case TFrame::Bracket:
            if (!isOperator(')')) return Fail(TCalcError::Expected, "Operator or \")\"");
            frames.pop_back();
            if (!NextToken()) return false;
            continue; // the bracket was a factor of the enclosing expression
        case TFrame::Call:
            if (static_cast<int>(frame.argumentStarts.size()) < frame.function->ArgumentCount()) {
                if (!isOperator(',')) return Fail(TCalcError::Expected, ",");
                if (!NextToken()) return false;
                frame.state = freshState();
                frame.argumentStarts.push_back(static_cast<std::size_t>(program_.Count()));
                expectFactor = true;
                continue;
            }
            if (!isOperator(')')) return Fail(TCalcError::Expected, ")");
            {
                TRef<TCalcFunc> function = std::move(frame.function);
                const std::vector<std::size_t> starts = std::move(frame.argumentStarts);
                frames.pop_back();
                if (!EmitCall(std::move(function), starts)) return false;
            }
            if (!NextToken()) return false;
            continue; // the call was a factor of the enclosing expression
        }
    }
}

bool TExpressionParser::IsConstant(std::size_t start, std::size_t end) const {
    return end == start + 1 && program_[static_cast<int>(start)].kind == kCmdLoad;
}

void TExpressionParser::EmitNegate(std::size_t operandStart) {
    const std::size_t end = static_cast<std::size_t>(program_.Count());
    if (IsConstant(operandStart, end)) {
        const double b = program_.Last().constant;
        program_.RemoveLast();
        program_.AddSimple(kCmdLoad, -b);
        return;
    }
    program_.AddSimple(kCmdNeg);
}

bool TExpressionParser::EmitBinary(char op, std::size_t leftStart, std::size_t rightStart) {
    const std::size_t end = static_cast<std::size_t>(program_.Count());
    const bool leftConstant = IsConstant(leftStart, rightStart);
    const bool rightConstant = IsConstant(rightStart, end);
    if (op == '/' && rightConstant && program_.Last().constant == 0.0)
        return Fail(TCalcError::DivisionByZero);
    if (leftConstant && rightConstant) {
        const double a = program_[static_cast<int>(leftStart)].constant;
        const double b = program_[static_cast<int>(rightStart)].constant;
        program_.RemoveLast(2);
        switch (op) {
        case '+':
            program_.AddSimple(kCmdLoad, a + b);
            break;
        case '-':
            program_.AddSimple(kCmdLoad, a - b);
            break;
        case '*':
            program_.AddSimple(kCmdLoad, a * b);
            break;
        default:
            program_.AddSimple(kCmdLoad, a / b);
            break;
        }
        return true;
    }
    if (rightConstant) {
        const double b = program_.Last().constant;
        program_.RemoveLast();
        switch (op) {
        case '+':
            AddConst(b);
            break;
        case '-':
            AddConst(-b);
            break;
        case '*':
            MulConst(b);
            break;
        default:
            MulConst(1.0 / b);
            break;
        }
        return true;
    }
    if (leftConstant) {
        const double a = program_[static_cast<int>(leftStart)].constant;
        program_.RemoveAt(static_cast<int>(leftStart));
        switch (op) {
        case '+':
            AddConst(a);
            break;
        case '-':
            program_.AddSimple(kCmdConstSub, a);
            break;
        case '*':
            MulConst(a);
            break;
        default:
            program_.AddSimple(kCmdConstDiv, a);
            break;
        }
        return true;
    }
    switch (op) {
    case '+':
        program_.AddSimple(kCmdAdd);
        break;
    case '-':
        program_.AddSimple(kCmdSub);
        break;
    case '*':
        program_.AddSimple(kCmdMul);
        break;
    default:
        program_.AddSimple(kCmdDiv);
        break;
    }
    return true;
}

// Adds x to the non-constant operand that ends the program, merging with its last command.
void TExpressionParser::AddConst(double x) {
    int kind = kCmdAddConst;
    const TCalcCmd& last = program_.Last();
    if (last.kind == kCmdNeg) {
        program_.RemoveLast();
        kind = kCmdConstSub; // x - v
    } else if (last.kind == kCmdAddConst || last.kind == kCmdConstSub) {
        kind = last.kind;
        x += last.constant;
        program_.RemoveLast();
    }
    if (std::fabs(x) < kMergeEpsilon) {
        if (kind == kCmdConstSub) program_.AddSimple(kCmdNeg);
        return;
    }
    program_.AddSimple(kind, x);
}

// Multiplies the non-constant operand that ends the program by x, merging with its last command.
void TExpressionParser::MulConst(double x) {
    int kind = kCmdMulConst;
    const TCalcCmd& last = program_.Last();
    if (last.kind == kCmdNeg) {
        program_.RemoveLast();
        x = -x;
    } else if (last.kind == kCmdMulConst || last.kind == kCmdConstDiv) {
        kind = last.kind;
        x *= last.constant;
        program_.RemoveLast();
    }
    if (kind == kCmdMulConst) {
        if (std::fabs(x - 1.0) < kMergeEpsilon) return;
        if (std::fabs(x + 1.0) < kMergeEpsilon) {
            program_.AddSimple(kCmdNeg);
            return;
        }
    }
    program_.AddSimple(kind, x);
}

bool TExpressionParser::EmitCall(TRef<TCalcFunc> function, const std::vector<std::size_t>& argumentStarts) {
    const std::size_t end = static_cast<std::size_t>(program_.Count());
    const std::size_t n = argumentStarts.size();
    auto argumentEnd = [&](std::size_t i) { return i + 1 < n ? argumentStarts[i + 1] : end; };
    std::size_t trailingConstants = 0;
    while (trailingConstants < n &&
           IsConstant(argumentStarts[n - 1 - trailingConstants], argumentEnd(n - 1 - trailingConstants)))
        ++trailingConstants;

    if (function->Pure() && trailingConstants == n) {
        // Every argument is known: run the function now.
        TCalcStack stack;
        for (std::size_t i = 0; i < n; ++i)
            stack.Push(program_[static_cast<int>(argumentStarts[i])].constant);
        bool ok = false;
        try {
            ok = function->Execute(stack) && stack.Count() == 1 && std::isfinite(stack.Top());
        } catch (const EAssertionFailed&) {
            throw;
        } catch (...) {
            ok = false;
        }
        if (!ok) return Fail(TCalcError::FunctionCall, function->Name());
        program_.RemoveLast(static_cast<int>(n));
        program_.AddSimple(kCmdLoad, stack.Top());
        return true;
    }
    if (function->Pure() && trailingConstants > 0) {
        std::vector<double> constants;
        constants.reserve(trailingConstants);
        for (std::size_t i = n - trailingConstants; i < n; ++i)
            constants.push_back(program_[static_cast<int>(argumentStarts[i])].constant);
        TRef<TCalcFunc> replacement;
        bool replaced = false;
        try {
            replaced = function->Optimize(constants, replacement);
        } catch (const EAssertionFailed&) {
            throw;
        } catch (...) {
            replaced = false;
        }
        if (replaced && replacement) {
            const std::size_t dropped = n - static_cast<std::size_t>(replacement->ArgumentCount());
            if (replacement->ArgumentCount() < static_cast<int>(n) && dropped <= trailingConstants) {
                program_.RemoveLast(static_cast<int>(dropped));
                program_.AddCall(std::move(replacement));
                return true;
            }
        }
    }
    program_.AddCall(std::move(function));
    return true;
}

} // namespace kiv
