// `tqbse shell`: one connection, many calls. Line editing, history and
// completion of call names come from readline when it was found at build
// time; otherwise lines are read plainly. The history is kept between runs
// in the user's data directory ($XDG_DATA_HOME/tqbse/history, else
// ~/.local/share/tqbse/history), its last kHistoryLines lines.
#include "commands.h"
#include "output.h"

#include <tqBsePluginControlDll.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#ifdef TQBSE_HAVE_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace tqbse::cli {
namespace {

constexpr int kMaxLines = 1000000;
constexpr int kHistoryLines = 1000;
constexpr const char* kBuiltins[] = {"help", "list", "info", "quit", "exit"};
// Call names complete with Tab only where readline does the line editing.
#ifdef TQBSE_HAVE_READLINE
constexpr const char* kTabNote = " (Tab completes names)";
#else
constexpr const char* kTabNote = "";
#endif

#ifdef TQBSE_HAVE_READLINE
char* completionGenerator(const char* text, int state)
{
    static size_t index;
    static size_t length;
    if (state == 0) {
        index = 0;
        length = std::strlen(text);
    }
    const size_t builtins = std::size(kBuiltins);
    const auto calls = cliCalls();
    // Bounded: walks the fixed list of builtins and calls once.
    while (index < builtins + calls.size()) {
        const size_t i = index++;
        const std::string name = i < builtins ? std::string(kBuiltins[i]) : std::string(calls[i - builtins].desc->shortName());
        if (name.compare(0, length, text) == 0)
            return ::strdup(name.c_str());
    }
    return nullptr;
}

char** complete(const char* text, int start, int)
{
    ::rl_attempted_completion_over = 1;
    if (start != 0)
        return nullptr;
    return ::rl_completion_matches(text, completionGenerator);
}

// The history file; empty when neither XDG_DATA_HOME nor HOME names a place.
std::string historyPath()
{
    std::filesystem::path dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        dir = data;
    else if (const char* home = std::getenv("HOME"); home && home[0] != '\0')
        dir = std::filesystem::path(home) / ".local" / "share";
    else
        return {};
    std::error_code ignored;
    std::filesystem::create_directories(dir / "tqbse", ignored);
    return (dir / "tqbse" / "history").string();
}

// The earlier runs' lines; each new line is appended as it is entered, so
// that a shell ended by a signal keeps them too.
void loadHistory(const std::string& path)
{
    ::stifle_history(kHistoryLines);
    if (!path.empty() && ::read_history(path.c_str()) != 0)
        ::write_history(path.c_str()); // creates the file for append_history
}
#endif

bool readLine(const char* prompt, std::string* line, [[maybe_unused]] const std::string& history)
{
#ifdef TQBSE_HAVE_READLINE
    char* text = ::readline(prompt);
    if (!text)
        return false;
    *line = text;
    if (*text) {
        ::add_history(text);
        if (!history.empty())
            ::append_history(1, history.c_str());
    }
    std::free(text);
    return true;
#else
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    return static_cast<bool>(std::getline(std::cin, *line));
#endif
}

} // namespace

void printShellHelp(FILE* out)
{
    std::fprintf(out, "  CALL [ARGS...]   call an export by name%s; options --json --csv\n", kTabNote);
    std::fputs("                   --file PATH --out PATH may follow\n"
               "  list             every call with its arguments and outputs\n"
               "  info             diagnostics report\n"
               "  Initialise A B C D  connect to another server\n"
               "  help             this list\n"
               "  quit             leave (also Ctrl-D)\n",
               out);
}

bool splitLine(const std::string& line, std::vector<std::string>* words)
{
    words->clear();
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && quote != '\'' && i + 1 < line.size()) {
            word += line[++i];
            inWord = true;
        } else if (quote) {
            if (c == quote)
                quote = 0;
            else
                word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words->push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote)
        return false;
    if (inWord)
        words->push_back(word);
    return true;
}

int runShell(FILE* out, const Options& options)
{
#ifdef TQBSE_HAVE_READLINE
    ::rl_readline_name = "tqbse";
    ::rl_attempted_completion_function = complete;
    // Prompts and echo go with the diagnostics, so that the output stays clean.
    ::rl_outstream = stderr;
    const std::string history = historyPath();
    loadHistory(history);
#else
    const std::string history;
#endif
    Options current = options;
    if (connectOrExplain(current) == kExitOk)
        std::fprintf(stderr, "connected to %s; type help, or a call name%s\n", current.server.c_str(), kTabNote);
    else
        std::fputs("not connected; calls return -14 until Initialise A B C D succeeds\n", stderr);

    std::string line;
    for (int n = 0; n < kMaxLines && readLine("tqbse> ", &line, history); ++n) {
        std::vector<std::string> words;
        if (!splitLine(line, &words)) {
            std::fputs("tqbse: unterminated quote\n", stderr);
            continue;
        }
        Command command;
        command.options = current;
        command.options.json = command.options.csv = false;
        command.options.file.clear();
        command.options.out.clear();
        if (const auto error = parseCommandLine(words, &command)) {
            std::fprintf(stderr, "tqbse: %s\n", error->c_str());
            continue;
        }
        command.options.server = current.server;
        command.options.octets = current.octets;
        if (command.words.empty())
            continue;
        const std::string& verb = command.words[0];
        if (verb == "quit" || verb == "exit")
            break;
        if (verb == "help" || command.options.help)
            printShellHelp(out);
        else if (verb == "list")
            printList(out, command.options);
        else if (verb == "info")
            runInfo(out, command.options, false);
        else if (runCallCommand(out, command, false) == kExitOk && verb == "Initialise") {
            // Later info and reconnects go to the server just chosen.
            std::string address;
            for (size_t i = 1; i < command.words.size(); ++i)
                address += (i > 1 ? "." : "") + command.words[i];
            if (const auto octets = parseAddress(address)) {
                current.server = address;
                current.octets = *octets;
            }
        }
        std::fflush(out);
    }
#ifdef TQBSE_HAVE_READLINE
    if (!history.empty())
        ::history_truncate_file(history.c_str(), kHistoryLines);
#endif
    tqBsePluginControlDll_Shutdown();
    return kExitOk;
}

} // namespace tqbse::cli
