// The process's own command line, arguments, console and executable on Windows.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace quorsel {

// The command-line text the parser reads: GetCommandLineW's text (program path,
// usually quoted, then the arguments) as UTF-8, whatever the ANSI code page, so no
// character is replaced by a best-fit look-alike. An unpaired surrogate becomes
// U+FFFD, which, like every other character outside ASCII, only separates tokens.
// The container is read from the running file (RunningExecutablePath); the program
// path in this text serves only when the system cannot name that file.
std::string ProcessCommandLine();

// A console program's arguments (wmain's UTF-16 argv) as UTF-8, each converted once;
// nullopt when one holds an unpaired surrogate (it could name no file correctly).
class Utf8Arguments {
public:
    static std::optional<Utf8Arguments> From(int argc, const wchar_t* const* argv);
    int count() const { return static_cast<int>(pointers_.size()) - 1; }
    // argv[0..count()-1], then a null pointer.
    const char* const* values() const { return pointers_.data(); }

    Utf8Arguments(Utf8Arguments&& other) noexcept;
    Utf8Arguments& operator=(Utf8Arguments&&) = delete;
    Utf8Arguments(const Utf8Arguments&) = delete;
    Utf8Arguments& operator=(const Utf8Arguments&) = delete;
    ~Utf8Arguments() = default;

private:
    explicit Utf8Arguments(std::vector<std::string> texts);
    std::vector<std::string> texts_;
    std::vector<const char*> pointers_;
};

// While it exists, the console takes this program's output as UTF-8 (the texts are
// UTF-8); the console's own code page comes back when it ends, so the window the
// program was started from is left as it was. Does nothing without a console.
class Utf8ConsoleOutput {
public:
    Utf8ConsoleOutput();
    ~Utf8ConsoleOutput();
    Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
    Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

private:
    UINT saved_ = 0;
};

// The path of the running executable (GetModuleFileNameW) as UTF-8, whatever
// folder it was started from and however its name is spelled; nullopt when the
// system does not give it.
std::optional<std::string> RunningExecutablePath();

}  // namespace quorsel
