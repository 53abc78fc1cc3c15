#include "tools/kiv/cli.h"

#include <string>
#include <string_view>

#include "tools/kiv/commands.h"
#include "tools/kiv/report.h"
#include "tools/kiv/streams.h"

namespace kiv::tool {

namespace {

enum OptionBit : unsigned { kNewline = 1u, kTag = 2u };

struct Option {
    char short_name;
    const char* long_name;
    OptionBit bit;
    bool takes_value;
};

constexpr Option kOptions[] = {
    {'n', "newline", kNewline, false},
    {'t', "tag", kTag, true},
};

struct Command {
    const char* name;
    const char* synopsis;  // the usage line after "kiv "
    const char* summary;   // one line for the overview
    const char* details;   // the rest of the command's help
    unsigned options;      // OptionBits accepted
    std::size_t min_args;
    std::size_t max_args;
    int (*run)(const Invocation&);
};

int run_help(const Invocation& inv);

constexpr Command kCommands[] = {
    {"read", "read [-n] FILE", "print the plain text of a stored file",
     "Prints the plain text of the stored file FILE on standard output, exactly its bytes:\n"
     "nothing is added, converted or cut, not even a final newline.\n"
     "The file is opened for reading and writing, as the library does, so a file without\n"
     "write permission reads as missing (703).\n"
     "\n"
     "Options:\n"
     "  -n, --newline   print a newline after the text\n",
     kNewline, 1, 1, run_read},
    {"write", "write FILE TEXT|-", "store a text as writeFile does; an empty one deletes FILE",
     "Stores TEXT scrambled at FILE, as writeFile does: the same bytes, saved atomically\n"
     "(a temporary file beside FILE, synced and renamed over it). With - the text is read\n"
     "from standard input, byte for byte; a text that really is \"-\" must come that way.\n"
     "\n"
     "An empty TEXT (\"\" or an empty standard input) deletes FILE instead (603), as\n"
     "writeFile does for empty content.\n"
     "\n"
     "The bytes are stored as given. The app hands the library modified UTF-8, which is\n"
     "the same as UTF-8 for every text without U+0000 and characters beyond U+FFFF.\n",
     0, 2, 2, run_write},
    {"query", "query FILE", "tell whether a stored file is present, empty or missing",
     "Prints one word on standard output and exits with 0:\n"
     "  present     the file holds something (200)\n"
     "  empty       the file exists and is empty (804)\n"
     "  missing     no file, or one that cannot be opened for reading and writing (803)\n"
     "  directory   a directory, which the app finds missing too (803)\n"
     "Any other outcome is a failure (exit 1) reported on standard error.\n",
     0, 1, 1, run_query},
    {"encode", "encode", "scramble standard input to standard output",
     "Scrambles all of standard input, as the library stores text, to standard output.\n"
     "Any bytes, zero bytes included.\n",
     0, 0, 0, run_encode},
    {"decode", "decode", "unscramble standard input to standard output",
     "Unscrambles all of standard input (the bytes of a stored file) to standard output.\n"
     "Any bytes, zero bytes included.\n",
     0, 0, 0, run_decode},
    {"identity", "identity FILE [-t TAG]", "show a stored device identity, or get or make one",
     "Without --tag, shows the plain form of the identity stored at FILE and changes\n"
     "nothing:\n"
     "  number: 1234567\n"
     "  tag: myapp\n"
     "The number is the leading run of digits, so a tag that starts with a digit shows\n"
     "split in the wrong place; give --tag to split it right. A file that is empty or\n"
     "whose text does not start with a digit from 1 to 9 holds no identity: that is a\n"
     "failure (exit 1).\n"
     "\n"
     "With --tag, does what getDeviceIdentification(TAG, FILE) does: returns the identity\n"
     "stored at FILE if its plain text contains TAG, else makes a new one and stores it.\n"
     "It prints the scrambled form, as the app receives it, then the plain form:\n"
     "  scrambled: 2468zq135l`o\n"
     "  number: 1234567\n"
     "  tag: myapp\n"
     "\n"
     "Options:\n"
     "  -t, --tag TAG   get or make the identity for TAG (not empty)\n",
     kTag, 1, 1, run_identity},
    {"help", "help [COMMAND]", "show this help, or a command's", "", 0, 0, 1, run_help},
};

const Command* find_command(std::string_view name) {
    for (const Command& cmd : kCommands) {
        if (name == cmd.name) return &cmd;
    }
    return nullptr;
}

int print_overview() {
    std::string text =
        "Usage: kiv COMMAND [OPTIONS] [ARGS]\n"
        "       kiv --help | --version\n"
        "\n"
        "Reads and writes the scrambled files of libkiv-native-lib with the library's own\n"
        "code: files pulled off a device read back as the app wrote them, and files written\n"
        "here read back in the app.\n"
        "\n"
        "Commands:\n";
    for (const Command& cmd : kCommands) {
        std::string line = std::string("  ") + cmd.synopsis;
        line.resize(line.size() < 28 ? 28 : line.size() + 2, ' ');
        text += line + cmd.summary + "\n";
    }
    text +=
        "\n"
        "Exit status:\n"
        "  0  success\n"
        "  1  the operation failed; its status code and message are on standard error\n"
        "  2  usage error; nothing was done\n"
        "  3  standard input or output failed, or memory ran out\n"
        "\n"
        "Run 'kiv help COMMAND' or 'kiv COMMAND --help' for a command's details.\n";
    return print(text);
}

int print_command_help(const Command& cmd) {
    if (std::string_view(cmd.name) == "help") return print_overview();
    std::string text = std::string("Usage: kiv ") + cmd.synopsis + "\n\n" + cmd.details;
    if (cmd.options == 0) text += "\nOptions:\n";
    text += "  -h, --help      show this help\n";
    return print(text);
}

int usage_error(const std::string& message, const Command* cmd) {
    std::string text = "kiv: ";
    if (cmd != nullptr) text += std::string(cmd->name) + ": ";
    text += message + "\n";
    if (cmd != nullptr) {
        text += std::string("Usage: kiv ") + cmd->synopsis + "\n";
        text += std::string("Try 'kiv ") + cmd->name + " --help'.\n";
    } else {
        text += "Try 'kiv --help'.\n";
    }
    write_error(text);
    return kExitUsage;
}

int run_help(const Invocation& inv) {
    if (inv.args.empty()) return print_overview();
    const Command* cmd = find_command(inv.args[0]);
    if (cmd == nullptr) {
        return usage_error(std::string("no such command '") + inv.args[0] + "'", nullptr);
    }
    return print_command_help(*cmd);
}

const Option* find_option(std::string_view arg, std::string_view& value, bool& has_value) {
    has_value = false;
    if (arg.substr(0, 2) == "--") {
        std::string_view name = arg.substr(2);
        std::size_t eq = name.find('=');
        if (eq != std::string_view::npos) {
            value = name.substr(eq + 1);
            has_value = true;
            name = name.substr(0, eq);
        }
        for (const Option& opt : kOptions) {
            if (name == opt.long_name) return &opt;
        }
    } else if (arg.size() == 2) {
        for (const Option& opt : kOptions) {
            if (arg[1] == opt.short_name) return &opt;
        }
    }
    return nullptr;
}

enum class Parsed { run, help, error };

// Sorts the words after the command into options and operands. "--" ends the options; "-"
// alone is an operand (standard input).
Parsed parse(const Command& cmd, int argc, char** argv, Invocation& inv, std::string& error) {
    bool options_done = false;
    for (int i = 2; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            inv.args.push_back(argv[i]);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") return Parsed::help;
        std::string_view value;
        bool has_value = false;
        const Option* opt = find_option(arg, value, has_value);
        if (opt == nullptr || (cmd.options & opt->bit) == 0) {
            error = std::string("unknown option '") + argv[i] + "'";
            return Parsed::error;
        }
        if (opt->takes_value && !has_value) {
            if (i + 1 >= argc) {
                error = std::string("option '") + argv[i] + "' needs a value";
                return Parsed::error;
            }
            value = argv[++i];
        } else if (!opt->takes_value && has_value) {
            error = std::string("option '--") + opt->long_name + "' takes no value";
            return Parsed::error;
        }
        switch (opt->bit) {
            case kNewline: inv.newline = true; break;
            case kTag: inv.tag = value.data(); break;  // points into argv: zero-terminated
        }
    }
    if (inv.args.size() < cmd.min_args || inv.args.size() > cmd.max_args) {
        error = inv.args.size() < cmd.min_args ? "missing operand" : "too many operands";
        return Parsed::error;
    }
    return Parsed::run;
}

}  // namespace

int run(int argc, char** argv) {
    if (argc < 2) return usage_error("no command given", nullptr);
    std::string_view first = argv[1];
    if (first == "-h" || first == "--help") return print_overview();
    if (first == "-V" || first == "--version")
        return print(std::string("kiv ") + KIV_VERSION + "\n");
    const Command* cmd = find_command(first);
    if (cmd == nullptr) {
        const char* what =
            !first.empty() && first[0] == '-' ? "unknown option '" : "unknown command '";
        return usage_error(what + std::string(first) + "'", nullptr);
    }
    Invocation inv;
    std::string error;
    switch (parse(*cmd, argc, argv, inv, error)) {
        case Parsed::help: return print_command_help(*cmd);
        case Parsed::error: return usage_error(error, cmd);
        case Parsed::run: break;
    }
    return cmd->run(inv);
}

}  // namespace kiv::tool
