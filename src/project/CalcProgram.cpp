#include "project/CalcProgram.h"

#include "base/Exception.h"
#include "project/ShortestNumber.h"

#include <algorithm>
#include <cmath>

namespace kiv {

int CommandInputs(const TCalcCmd& command) noexcept {
    switch (command.kind) {
    case kCmdLoad:
        return 0;
    case kCmdAdd:
    case kCmdSub:
    case kCmdMul:
    case kCmdDiv:
        return 2;
    case kCmdNeg:
    case kCmdAddConst:
    case kCmdMulConst:
    case kCmdConstSub:
    case kCmdConstDiv:
        return 1;
    default:
        return command.kind - kCmdCallBase;
    }
}

std::string CommandText(const TCalcCmd& command) {
    switch (command.kind) {
    case kCmdLoad:
        return "load " + ShortestText(command.constant);
    case kCmdNeg:
        return "neg";
    case kCmdAdd:
        return "add";
    case kCmdSub:
        return "sub";
    case kCmdMul:
        return "mul";
    case kCmdDiv:
        return "div";
    case kCmdAddConst:
        return "addc " + ShortestText(command.constant);
    case kCmdMulConst:
        return "mulc " + ShortestText(command.constant);
    case kCmdConstSub:
        return "csub " + ShortestText(command.constant);
    case kCmdConstDiv:
        return "cdiv " + ShortestText(command.constant);
    default:
        return "call " + (command.function ? command.function->Name() : std::string());
    }
}

void TCalcCmdList::AddCall(TRef<TCalcFunc> function) {
    const int kind = kCmdCallBase + function->ArgumentCount();
    commands_.push_back(TCalcCmd{kind, std::move(function), 0.0});
}

void TCalcCmdList::RemoveLast(int count) {
    const std::size_t n = count < 0 ? 0 : std::min(commands_.size(), static_cast<std::size_t>(count));
    commands_.resize(commands_.size() - n);
}

void TCalcCmdList::RemoveAt(int index) {
    if (index < 0 || index >= Count()) return;
    commands_.erase(commands_.begin() + index);
}

std::vector<std::string> TCalcCmdList::Listing() const {
    std::vector<std::string> lines;
    lines.reserve(commands_.size());
    for (const TCalcCmd& command : commands_)
        lines.push_back(CommandText(command));
    return lines;
}

bool Evaluate(const TCalcCmdList& program, TCalcStack& stack) {
    try {
        stack.Reset();
        for (int i = 0; i < program.Count(); ++i) {
            const TCalcCmd& command = program[i];
            switch (command.kind) {
            case kCmdLoad:
                stack.Push(command.constant);
                break; // folding may have overflowed a constant
            case kCmdNeg:
                stack.SetTop(-stack.Top());
                continue; // negation cannot leave the finite range
            case kCmdAdd: {
                const double b = stack.Pop();
                stack.SetTop(stack.Top() + b);
                break;
            }
            case kCmdSub: {
                const double b = stack.Pop();
                stack.SetTop(stack.Top() - b);
                break;
            }
            case kCmdMul: {
                const double b = stack.Pop();
                stack.SetTop(stack.Top() * b);
                break;
            }
            case kCmdDiv: {
                const double b = stack.Pop();
                stack.SetTop(stack.Top() / b);
                break;
            }
            case kCmdAddConst:
                stack.SetTop(stack.Top() + command.constant);
                break;
            case kCmdMulConst:
                stack.SetTop(stack.Top() * command.constant);
                break;
            case kCmdConstSub:
                stack.SetTop(command.constant - stack.Top());
                break;
            case kCmdConstDiv:
                stack.SetTop(command.constant / stack.Top());
                break;
            default:
                if (!command.function || command.kind < kCmdCallBase) return false;
                if (!command.function->Execute(stack)) return false;
                break;
            }
            if (!std::isfinite(stack.Top())) return false;
        }
        return true;
    } catch (const EAssertionFailed&) {
        throw;
    } catch (...) {
        return false;
    }
}

} // namespace kiv
