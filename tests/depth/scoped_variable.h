// An environment variable set for a scope (null: unset), its former state back afterwards.
#pragma once

#include <stdlib.h>

#include <string>

namespace ZelvoDepth::testing {

class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old, hadOld_ = true;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { hadOld_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace ZelvoDepth::testing
