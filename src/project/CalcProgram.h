// TCalcCmdList: a compiled formula, a flat postfix program for the stack machine, and `Evaluate`,
// the machine that runs it. Programs are built by TExpressionParser (Expression.h) and owned by
// whoever compiled them (a modifier); a program and the stack it runs on are used by one thread at
// a time, because some functions it calls (flattened curves) keep a cursor between calls.
#pragma once

#include "project/CalcFunc.h"
#include "project/CalcStack.h"

#include <string>
#include <vector>

namespace kiv {

// Command kinds. A call of a function with n arguments has kind kCallBase + n.
enum TCalcCmdKind : int {
    kCmdLoad = 0,     // push the constant
    kCmdNeg = 1,      // top = -top
    kCmdAdd = 2,      // b = pop; top = top + b
    kCmdSub = 3,      // b = pop; top = top - b
    kCmdMul = 4,      // b = pop; top = top * b
    kCmdDiv = 5,      // b = pop; top = top / b
    kCmdAddConst = 6, // top = top + constant
    kCmdMulConst = 7, // top = top * constant
    kCmdConstSub = 8, // top = constant - top
    kCmdConstDiv = 9, // top = constant / top
    kCmdCallBase = 10,
};

struct TCalcCmd {
    int kind = kCmdLoad;
    TRef<TCalcFunc> function; // calls only
    double constant = 0.0;    // kinds 0 and 6-9
};

// The number of stack values a command consumes.
int CommandInputs(const TCalcCmd& command) noexcept;

// "load 6", "neg", "addc 6", "call Sqr", ...: one command as kivtool prints it; numbers in the
// shortest form that reads back to the same double.
std::string CommandText(const TCalcCmd& command);

// Move-only: a copy would share the cursors of the functions it calls between two owners.
class TCalcCmdList {
public:
    TCalcCmdList() { commands_.reserve(16); }
    TCalcCmdList(TCalcCmdList&&) noexcept = default;
    TCalcCmdList& operator=(TCalcCmdList&&) noexcept = default;
    TCalcCmdList(const TCalcCmdList&) = delete;
    TCalcCmdList& operator=(const TCalcCmdList&) = delete;

    int Count() const noexcept { return static_cast<int>(commands_.size()); }
    bool Empty() const noexcept { return commands_.empty(); }
    const TCalcCmd& operator[](int index) const { return commands_[static_cast<std::size_t>(index)]; }
    const TCalcCmd& Last() const { return commands_.back(); }

    void Add(TCalcCmd command) { commands_.push_back(std::move(command)); }
    void AddSimple(int kind, double constant = 0.0) {
        commands_.push_back(TCalcCmd{kind, nullptr, constant});
    }
    void AddCall(TRef<TCalcFunc> function);
    // Removes the last `count` commands (or all there are).
    void RemoveLast(int count = 1);
    void RemoveAt(int index);
    // Releases every function the program calls.
    void Clear() noexcept { commands_.clear(); }

    // One command per line as CommandText writes them.
    std::vector<std::string> Listing() const;

private:
    std::vector<TCalcCmd> commands_;
};

// Runs the program on the stack, which is emptied first. Returns false when a command fails: a
// function reports a failure, or any command produces a NaN or an infinity (division by zero, the
// square root of a negative number, overflow); the caller then ignores the stack. An empty program
// returns true and leaves the stack empty. An exception from a function counts as its failure; only
// a failed assertion (a programming error, not a bad formula) goes on to the caller. The result is
// the top value when exactly one value is left.
bool Evaluate(const TCalcCmdList& program, TCalcStack& stack);

} // namespace kiv
