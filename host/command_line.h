// The command lines of the tools, read one argument at a time:
//
//   vhost::CommandLine cl("vesper-merge", kUsage, argc, argv);
//   while (cl.next()) {
//       if (cl.arg() == "--out") {
//           out = cl.nonEmpty(cl.value(), "a file name");
//       } else if (cl.arg() == "--columns") {
//           columns = cl.inRange(cl.value(), 1, 1000, "1 to 1000");
//       } else if (cl.isOption()) {
//           cl.fail("unknown option " + cl.arg());
//       } else {
//           files.push_back(cl.arg());
//       }
//   }
//
// A usage error prints "<tool>: <what>" and the usage text to stderr and exits
// with status 2; --help and -h print the usage text to stdout and exit 0.
#pragma once

#include <string>

namespace vhost {

class CommandLine {
  public:
    // Reads argv[first] on (the arguments after the program and any command word).
    CommandLine(const char* tool, const char* usage, int argc, char** argv, int first = 1);

    // Takes the next argument; false when there is none. Answers --help and -h.
    bool next();
    // The argument taken, or the option whose value was just taken.
    const std::string& arg() const { return arg_; }
    // Whether the argument is an option (a "-" alone is a file name).
    bool isOption() const { return arg_.size() > 1 && arg_[0] == '-'; }

    // The option's value, the argument after it; without one, "<option> needs
    // <needs>".
    std::string value(const char* needs = "a value");
    // `v`, unless it is empty: then "<option> needs <needs>".
    std::string nonEmpty(const std::string& v, const char* needs) const;
    // `v` as a whole number: "<option> expects a whole number, not "<v>"" otherwise.
    long long integer(const std::string& v) const;
    // `v` as a whole number in [lo, hi]: "<option> expects <expects>" otherwise.
    long long inRange(const std::string& v, long long lo, long long hi,
                      const std::string& expects) const;

    [[noreturn]] void fail(const std::string& what) const;

  private:
    const char* tool_;
    const char* usage_;
    int argc_;
    char** argv_;
    int i_;
    std::string arg_;
};

}  // namespace vhost
