#include "host/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vhost {

CommandLine::CommandLine(const char* tool, const char* usage, int argc, char** argv, int first)
    : tool_(tool), usage_(usage), argc_(argc), argv_(argv), i_(first - 1) {}

bool CommandLine::next() {
    if (i_ + 1 >= argc_) return false;
    arg_ = argv_[++i_];
    if (arg_ == "--help" || arg_ == "-h") {
        std::fputs(usage_, stdout);
        std::exit(0);
    }
    return true;
}

std::string CommandLine::value(const char* needs) {
    if (i_ + 1 >= argc_) fail(arg_ + " needs " + needs);
    return argv_[++i_];
}

std::string CommandLine::nonEmpty(const std::string& v, const char* needs) const {
    if (v.empty()) fail(arg_ + " needs " + needs);
    return v;
}

long long CommandLine::integer(const std::string& v) const {
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end || errno == ERANGE) {
        fail(arg_ + " expects a whole number, not \"" + v + "\"");
    }
    return n;
}

long long CommandLine::inRange(const std::string& v, long long lo, long long hi,
                               const std::string& expects) const {
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end || errno == ERANGE || n < lo || n > hi)
        fail(arg_ + " expects " + expects);
    return n;
}

void CommandLine::fail(const std::string& what) const {
    std::fprintf(stderr, "%s: %s\n%s", tool_, what.c_str(), usage_);
    std::exit(2);
}

}  // namespace vhost
